#pragma once

// A stand-in for obs-frontend-api in the test executables. It implements the front-end
// functions the module calls and lets tests play the host: emit events, switch scenes,
// toggle studio mode, refuse docks, and see what the module asked for.

#include <obs-frontend-api.h>
#include <obs.h>

#include <QList>
#include <QString>
#include <QStringList>

class QMainWindow;
class QWidget;

namespace quillmar::fake {

// Forgets callbacks, docks, scenes and recorded calls; keeps the main window.
void reset();

QMainWindow *mainWindow();
void setMainWindowAvailable(bool available);
void setRefuseDocks(bool refuse);

// The docks the module added and every removal it asked for, as "name" or "name:argument", in order.
QStringList calls();
void clearCalls();
int eventCallbackCount();
int saveCallbackCount();
QWidget *dock(const QString &id);

void emitEvent(enum obs_frontend_event event);
// Runs the save callbacks as the host does when it saves (saving) or loads a collection.
void emitSave(obs_data_t *saveData, bool saving);
int frontendSaveCount();

// Program and preview scenes; the fake keeps its own references.
void setProgramScene(obs_source_t *scene, bool emitChange = true);
void setPreviewScene(obs_source_t *scene, bool emitChange = true);
void setStudioMode(bool enabled, bool emitChange = true);
// The scene list in the host's order; by default every scene libobs knows, sorted by name.
void setSceneOrder(const QList<obs_source_t *> &scenes);

} // namespace quillmar::fake
