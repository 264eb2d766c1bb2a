#pragma once

#include "storage/note_store.h"

#include <obs-frontend-api.h>
#include <obs.h>

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class QAction;
class QLabel;
class QSettings;

namespace quillmar {

class Editor;

// The one panel the module adds to the host's main window: it shows the note of the scene the
// host shows and saves every change.
class Dock : public QWidget {
	Q_OBJECT

public:
	Dock(const QString &settingsPath, QWidget *parent = nullptr);
	~Dock() override;

	QSettings *settings() const { return m_settings; }
	NoteStore &noteStore() { return m_store; }
	Editor *editor() const { return m_editor; }
	bool isClosing() const { return m_closing; }
	bool isDirty() const { return m_dirty; }
	bool hasLoadError() const { return m_loadError; }
	bool isLocked() const { return m_locked; }
	bool isRemoteEditing() const { return m_remoteEditing; }
	bool isRestoring() const { return m_restoring; }
	bool isCollectionReady() const { return m_collectionReady; }
	QString currentSceneUuid() const { return m_currentUuid; }
	QString statusMessage() const;

	// Host integration.
	void onFrontendEvent(enum obs_frontend_event event);
	void onSceneRenamed(obs_source_t *scene);
	void runHotkeyAction(int action);
	void postLoad();

	// Scene tracking and saving.
	void syncToFrontendScene();
	void showSceneNote(obs_source_t *scene);
	bool saveNote(bool saveCollection, bool report);
	// After the host saved the collection: a link written during that save missed its data, so
	// the collection is saved once more when control returns to the event loop.
	void scheduleCollectionSave();
	void setLocked(bool on);
	void setRemoteEditing(bool on);
	bool applyRemoteNote(obs_source_t *scene, const QString &html);
	// A backup restore brackets its work with these; host events meanwhile are followed at the end.
	void beginRestore();
	void endRestore();

	void rememberReadingPosition();
	void storeReadingPositions();

	// Runs once: later calls do nothing.
	void shutdown();

Q_SIGNALS:
	void sceneRenamed(const QString &uuid);
	void shutDown();

protected:
	void showEvent(QShowEvent *event) override;
	void hideEvent(QHideEvent *event) override;

private:
	void createWidgets();

	// Scene notes.
	void onTextEdited();
	bool saveDirtyNote(bool report);
	bool saveOrphanedNote(bool report);
	void requestCollectionSave();
	obs_source_t *currentScene() const;
	void setCurrentScene(obs_source_t *scene);
	int storedReadingPosition(const QString &uuid) const;
	void applyReadingPosition(int position);
	void onScrollRangeChanged();
	void applyReadOnly();
	void syncReadModeAction();

	// Status line.
	void setStatus(const QString &message);
	void showSaveError(const QString &detail);
	void hideSaveError();
	void showLimitMessage();
	void applySceneLabelStyle();

	// Calls into features that are not part of this dock yet; each does nothing for now.
	void setFormatPainter(bool armed);
	void hideGoTo();
	void stopScrolling();
	void updateToolEnabling();
	void setSceneToolsEnabled(bool enabled);
	void syncFormatControls();
	void updateCharacterCount();
	void updateDocumentStatus();
	void invalidateSearch();
	void stopSearchTimer();
	void hideRemotePopup();
	void shutdownRemote();
	void notifyRemoteNoteChanged(const QString &uuid);
	void notifyRemoteStateChanged();
	void notifyRemoteCollectionChanging(bool changing);
	void notifyRemoteLockChanged();
	void rearmAutoClear();
	void stopAutoClear();
	bool isScrollingOrCountingDown() const;

	QSettings *m_settings = nullptr;
	NoteStore m_store;

	// The scene whose note is in the editor.
	obs_weak_source_t *m_currentScene = nullptr;
	QString m_currentUuid;
	// Its last known name and the file its note was loaded from or last saved to, so that edits
	// survive the scene being deleted before they were saved.
	QString m_currentName;
	QString m_currentNotePath;
	bool m_dirty = false;
	bool m_loadError = false;
	bool m_locked = false;
	bool m_remoteEditing = false;
	bool m_restoring = false;
	bool m_pendingFollow = false;
	bool m_closing = false;
	bool m_collectionReady = false;
	bool m_shutdownDone = false;
	QHash<QString, int> m_readingPositions;
	// A reading position that the editor's layout could not take yet (-1: none).
	int m_pendingPosition = -1;
	// What the save before a switch has to tell, shown once the switch is done.
	QString m_switchNotice;
	QTimer m_autosaveTimer;

	Editor *m_editor = nullptr;
	QLabel *m_sceneLabel = nullptr;
	QLabel *m_saveStatus = nullptr;
	QLabel *m_saveError = nullptr;
	QAction *m_readModeAction = nullptr;
};

} // namespace quillmar
