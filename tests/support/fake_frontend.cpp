#include "fake_frontend.h"

#include <obs.hpp>

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QVector>

#include <algorithm>
#include <utility>
#include <vector>

namespace quillmar::fake {

namespace {

struct State {
	QPointer<QMainWindow> window;
	bool windowAvailable = true;
	bool refuseDocks = false;
	QStringList calls;
	QVector<std::pair<obs_frontend_event_cb, void *>> eventCallbacks;
	QVector<std::pair<obs_frontend_save_cb, void *>> saveCallbacks;
	QMap<QString, QPointer<QWidget>> docks;
	OBSWeakSourceAutoRelease program;
	OBSWeakSourceAutoRelease preview;
	bool studioMode = false;
	std::vector<OBSWeakSourceAutoRelease> order;
	bool customOrder = false;
	int saveCount = 0;
};

State &state()
{
	static State s;
	return s;
}

QString str(const char *id) { return QString::fromUtf8(id); }

} // namespace

void reset()
{
	State &s = state();
	for (auto &dock : s.docks)
		delete dock.data();
	const QPointer<QMainWindow> window = s.window;
	s = State();
	s.window = window;
}

QMainWindow *mainWindow() { return state().window ? state().window.data() : (state().window = new QMainWindow).data(); }

void setMainWindowAvailable(bool available) { state().windowAvailable = available; }

void setRefuseDocks(bool refuse) { state().refuseDocks = refuse; }

QStringList calls() { return state().calls; }

void clearCalls() { state().calls.clear(); }

int eventCallbackCount() { return int(state().eventCallbacks.size()); }

int saveCallbackCount() { return int(state().saveCallbacks.size()); }

QWidget *dock(const QString &id) { return state().docks.value(id).data(); }

void emitEvent(enum obs_frontend_event event)
{
	// Callbacks may remove themselves while running.
	const auto callbacks = state().eventCallbacks;
	for (const auto &cb : callbacks)
		cb.first(event, cb.second);
}

void emitSave(obs_data_t *saveData, bool saving)
{
	const auto callbacks = state().saveCallbacks;
	for (const auto &cb : callbacks)
		cb.first(saveData, saving, cb.second);
}

int frontendSaveCount() { return state().saveCount; }

void setProgramScene(obs_source_t *scene, bool emitChange)
{
	state().program = obs_source_get_weak_source(scene);
	if (emitChange)
		emitEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED);
}

void setPreviewScene(obs_source_t *scene, bool emitChange)
{
	state().preview = obs_source_get_weak_source(scene);
	if (emitChange && state().studioMode)
		emitEvent(OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED);
}

void setStudioMode(bool enabled, bool emitChange)
{
	state().studioMode = enabled;
	if (emitChange)
		emitEvent(enabled ? OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED : OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED);
}

void setSceneOrder(const QList<obs_source_t *> &scenes)
{
	state().order.clear();
	for (obs_source_t *s : scenes)
		state().order.emplace_back(obs_source_get_weak_source(s));
	state().customOrder = true;
}

} // namespace quillmar::fake

using namespace quillmar::fake;

extern "C" {

void *obs_frontend_get_main_window(void) { return state().windowAvailable ? mainWindow() : nullptr; }

bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget)
{
	state().calls.append(QStringLiteral("add_dock_by_id:") + str(id));
	if (state().refuseDocks || state().docks.value(str(id)))
		return false;
	static_cast<QWidget *>(widget)->setWindowTitle(str(title));
	state().docks.insert(str(id), static_cast<QWidget *>(widget));
	return true;
}

void obs_frontend_remove_dock(const char *id)
{
	state().calls.append(QStringLiteral("remove_dock:") + str(id));
	// The host destroys the dock's widget with its dock.
	delete state().docks.take(str(id)).data();
}

void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *data) { state().eventCallbacks.append({callback, data}); }

void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *data)
{
	state().calls.append(QStringLiteral("remove_event_callback"));
	state().eventCallbacks.removeAll({callback, data});
}

void obs_frontend_add_save_callback(obs_frontend_save_cb callback, void *data) { state().saveCallbacks.append({callback, data}); }

void obs_frontend_remove_save_callback(obs_frontend_save_cb callback, void *data)
{
	state().calls.append(QStringLiteral("remove_save_callback"));
	state().saveCallbacks.removeAll({callback, data});
}

obs_source_t *obs_frontend_get_current_scene(void) { return obs_weak_source_get_source(state().program); }

obs_source_t *obs_frontend_get_current_preview_scene(void) { return state().studioMode ? obs_weak_source_get_source(state().preview) : nullptr; }

bool obs_frontend_preview_program_mode_active(void) { return state().studioMode; }

void obs_frontend_get_scenes(struct obs_frontend_source_list *sources)
{
	State &s = state();
	if (s.customOrder) {
		for (const OBSWeakSourceAutoRelease &w : s.order)
			if (obs_source_t *src = obs_weak_source_get_source(w))
				da_push_back(sources->sources, &src);
		return;
	}
	QList<obs_source_t *> all;
	obs_enum_scenes(
		[](void *param, obs_source_t *src) {
			if (obs_scene_from_source(src))
				static_cast<QList<obs_source_t *> *>(param)->append(obs_source_get_ref(src));
			return true;
		},
		&all);
	std::sort(all.begin(), all.end(), [](obs_source_t *a, obs_source_t *b) {
		return qstrcmp(obs_source_get_name(a), obs_source_get_name(b)) < 0;
	});
	for (obs_source_t *src : all)
		da_push_back(sources->sources, &src);
}

void obs_frontend_save(void)
{
	++state().saveCount;
	emitSave(OBSDataAutoRelease(obs_data_create()), true);
}

} // extern "C"
