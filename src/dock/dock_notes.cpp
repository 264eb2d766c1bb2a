// Following the host's scene, loading its note, and saving every change.
#include "dock/dock.h"

#include "editor/editor.h"
#include "module/text.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>

namespace quillmar {

namespace {

QString uuidOf(obs_source_t *scene)
{
	return scene ? QString::fromUtf8(obs_source_get_uuid(scene)) : QString();
}

QString nameOf(obs_source_t *scene)
{
	return scene ? QString::fromUtf8(obs_source_get_name(scene)) : QString();
}

QString readingPositionKey(const QString &uuid)
{
	return QStringLiteral("readingPositions/") + uuid;
}

} // namespace

obs_source_t *Dock::currentScene() const
{
	return m_currentScene ? obs_weak_source_get_source(m_currentScene) : nullptr;
}

void Dock::setCurrentScene(obs_source_t *scene)
{
	m_currentScene = scene ? obs_source_get_weak_source(scene) : nullptr;
	m_currentUuid = uuidOf(scene);
	m_currentName = nameOf(scene);
}

void Dock::onFrontendEvent(enum obs_frontend_event event)
{
	if (m_restoring) {
		m_pendingFollow = true;
		return;
	}
	switch (event) {
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		notifyRemoteCollectionChanging(false);
		syncToFrontendScene();
		m_collectionReady = true;
		rearmAutoClear();
		notifyRemoteStateChanged();
		break;
	case OBS_FRONTEND_EVENT_SCENE_CHANGED:
	case OBS_FRONTEND_EVENT_SCENE_LIST_CHANGED:
	case OBS_FRONTEND_EVENT_STUDIO_MODE_ENABLED:
	case OBS_FRONTEND_EVENT_STUDIO_MODE_DISABLED:
	case OBS_FRONTEND_EVENT_PREVIEW_SCENE_CHANGED:
		syncToFrontendScene();
		notifyRemoteStateChanged();
		break;
	case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
		m_collectionReady = false;
		stopAutoClear();
		notifyRemoteCollectionChanging(true);
		saveNote(false, true);
		showSceneNote(nullptr);
		break;
	default:
		break;
	}
}

void Dock::syncToFrontendScene()
{
	if (m_closing)
		return;
	const OBSSourceAutoRelease scene(obs_frontend_preview_program_mode_active() ? obs_frontend_get_current_preview_scene()
									 : obs_frontend_get_current_scene());
	showSceneNote(scene);
}

void Dock::showSceneNote(obs_source_t *scene)
{
	const QString uuid = uuidOf(scene);
	QString error;

	if (!uuid.isEmpty() && uuid == m_currentUuid && !m_loadError) {
		if (!m_dirty && !m_store.syncSceneName(scene, error))
			setStatus(error);
		m_currentName = nameOf(scene);
		m_currentNotePath = m_store.resolveNotePath(scene);
		m_sceneLabel->setText(m_currentName);
		m_sceneLabel->setToolTip(plainToolTip(m_currentName));
		m_autosaveTimer.stop();
		if (m_dirty)
			saveDirtyNote(true);
		requestCollectionSave();
		return;
	}

	// Never leave unsaved edits behind: a failed save keeps the old note on screen.
	m_switchNotice.clear();
	if (!saveNote(true, true))
		return;

	setFormatPainter(false);
	hideGoTo();
	rememberReadingPosition();
	stopScrolling();

	setCurrentScene(scene);
	QString html;
	if (m_store.syncSceneName(scene, error))
		html = m_store.readNote(scene, error);
	m_currentNotePath = m_store.resolveNotePath(scene);

	{
		const QSignalBlocker blocker(m_editor);
		// The limits are checked on the loaded document itself, so a note is parsed once.
		m_editor->setNoteHtml(error.isEmpty() ? html : QString());
		if (error.isEmpty() && !fitsNoteLimits(*m_editor->document())) {
			error = text("TextLimit");
			m_editor->setNoteHtml(QString());
		}
		m_loadError = !error.isEmpty();
		m_editor->setPlaceholderText(error);
		m_editor->setEnabled(scene != nullptr);
		applyReadOnly();
		applyReadingPosition(storedReadingPosition(uuid));
	}

	syncReadModeAction();
	m_readModeAction->setEnabled(true);
	updateToolEnabling();
	setSceneToolsEnabled(scene != nullptr);

	const QString label = scene ? m_currentName : text("NoScene");
	m_sceneLabel->setText(label);
	m_sceneLabel->setToolTip(plainToolTip(label));

	m_dirty = false;
	hideSaveError();
	m_autosaveTimer.stop();
	syncFormatControls();

	if (m_loadError)
		setStatus(error);
	else if (!m_switchNotice.isEmpty())
		setStatus(m_switchNotice);
	else
		setStatus(text(scene ? "Loaded" : "SelectScene"));
	m_switchNotice.clear();
	updateDocumentStatus();
	invalidateSearch();
	notifyRemoteStateChanged();
	requestCollectionSave();
}

void Dock::onTextEdited()
{
	if (m_restoring || m_loadError)
		return;
	setFormatPainter(false);
	m_pendingPosition = -1;
	m_dirty = true;
	notifyRemoteNoteChanged(m_currentUuid);
	setStatus(text("Saving"));
	updateCharacterCount();
	m_autosaveTimer.start();
}

bool Dock::saveNote(bool saveCollection, bool report)
{
	m_autosaveTimer.stop();
	if (m_closing)
		return false;
	if (m_dirty && !saveDirtyNote(report))
		return false;
	if (saveCollection)
		requestCollectionSave();
	return true;
}

bool Dock::saveDirtyNote(bool report)
{
	if (!fitsNoteLimits(*m_editor->document())) {
		showLimitMessage();
		return false;
	}
	const OBSSourceAutoRelease scene(currentScene());
	if (!scene || obs_source_removed(scene))
		return saveOrphanedNote(report);
	QString detail;
	if (!m_store.saveNote(scene, m_editor->toHtml(), detail)) {
		if (report) {
			showSaveError(detail);
			setStatus(text("NoteSaveFailed") + QLatin1Char(' ') + detail);
		}
		return false;
	}
	m_currentNotePath = m_store.resolveNotePath(scene);
	m_dirty = false;
	hideSaveError();
	if (report)
		setStatus(text("SavedNote"));
	return true;
}

// The scene went away with unsaved edits (deleted by the user or a script before the autosave
// ran). Refusing the save would pin the dock to a dead scene and lose the edits at exit, so they
// go to the file the note came from, under the scene's last known id and name.
bool Dock::saveOrphanedNote(bool report)
{
	QString detail;
	const QString path =
		m_store.saveOrphanedNote(m_currentUuid, m_currentName, m_currentNotePath, m_editor->toHtml(), detail);
	if (path.isEmpty()) {
		if (report) {
			showSaveError(detail);
			setStatus(text("NoteSaveFailed") + QLatin1Char(' ') + detail);
		}
		return false;
	}
	m_currentNotePath = path;
	m_dirty = false;
	hideSaveError();
	m_switchNotice = text("DeletedSceneNoteSaved").arg(QDir::toNativeSeparators(path));
	if (report)
		setStatus(m_switchNotice);
	return true;
}

void Dock::requestCollectionSave()
{
	if (!m_closing && m_store.takeCollectionDirty())
		obs_frontend_save();
}

void Dock::scheduleCollectionSave()
{
	QMetaObject::invokeMethod(this, &Dock::requestCollectionSave, Qt::QueuedConnection);
}

void Dock::onSceneRenamed(obs_source_t *scene)
{
	if (m_closing || m_restoring || !scene)
		return;
	Q_EMIT sceneRenamed(uuidOf(scene));
	if (uuidOf(scene) == m_currentUuid) {
		showSceneNote(scene);
		return;
	}
	QString error;
	if (!m_store.syncSceneName(scene, error))
		setStatus(error);
	saveNote(true, true);
}

void Dock::applyReadOnly()
{
	m_editor->setReadOnly(m_locked || m_remoteEditing || m_loadError);
}

void Dock::syncReadModeAction()
{
	const QSignalBlocker blocker(m_readModeAction);
	m_readModeAction->setChecked(m_locked || m_remoteEditing);
}

void Dock::setLocked(bool on)
{
	saveNote(true, true);
	m_locked = on;
	m_settings->setValue(QStringLiteral("locked"), on);
	notifyRemoteLockChanged();
	syncReadModeAction();
	if (!on)
		stopScrolling();
	applyReadOnly();
	applySceneLabelStyle();
	updateToolEnabling();
}

void Dock::setRemoteEditing(bool on)
{
	if (on == m_remoteEditing)
		return;
	saveNote(false, true);
	stopScrolling();
	m_remoteEditing = on;
	applyReadOnly();
	syncReadModeAction();
	m_readModeAction->setToolTip(text("ReadTip"));
	m_editor->setToolTip(on ? text("RemoteEditing") : QString());
	updateToolEnabling();
}

bool Dock::applyRemoteNote(obs_source_t *scene, const QString &html)
{
	if (m_restoring)
		return false;
	QString detail;
	if (!m_store.saveNote(scene, html, detail)) {
		showSaveError(detail);
		setStatus(detail);
		return false;
	}
	if (scene && uuidOf(scene) == m_currentUuid) {
		const int position = m_pendingPosition >= 0 ? m_pendingPosition : m_editor->verticalScrollBar()->value();
		{
			const QSignalBlocker blocker(m_editor);
			m_editor->setNoteHtml(html);
			applyReadingPosition(position);
		}
		m_currentNotePath = m_store.resolveNotePath(scene);
		m_dirty = false;
		hideSaveError();
		m_loadError = false;
		m_editor->setPlaceholderText(QString());
		applyReadOnly();
		invalidateSearch();
		updateDocumentStatus();
	}
	m_autosaveTimer.stop();
	if (m_dirty)
		saveDirtyNote(true);
	requestCollectionSave();
	return true;
}

void Dock::beginRestore()
{
	m_restoring = true;
	m_pendingFollow = false;
	stopScrolling();
}

void Dock::endRestore()
{
	m_restoring = false;
	saveNote(true, true);
	m_currentUuid.clear();
	{
		const OBSSourceAutoRelease scene(currentScene());
		showSceneNote(scene);
	}
	notifyRemoteCollectionChanging(false);
	if (m_pendingFollow) {
		m_pendingFollow = false;
		syncToFrontendScene();
	}
}

int Dock::storedReadingPosition(const QString &uuid) const
{
	if (uuid.isEmpty())
		return 0;
	const auto it = m_readingPositions.constFind(uuid);
	if (it != m_readingPositions.constEnd())
		return it.value();
	return m_settings->value(readingPositionKey(uuid), 0).toInt();
}

// A note that was just loaded may not be laid out far enough for its position yet; the rest
// follows as the layout grows the scroll range.
void Dock::applyReadingPosition(int position)
{
	QScrollBar *bar = m_editor->verticalScrollBar();
	position = qMax(position, 0);
	bar->setValue(position);
	m_pendingPosition = bar->value() < position ? position : -1;
}

void Dock::onScrollRangeChanged()
{
	if (m_pendingPosition >= 0)
		applyReadingPosition(m_pendingPosition);
}

void Dock::rememberReadingPosition()
{
	if (!m_currentUuid.isEmpty())
		m_readingPositions.insert(m_currentUuid, m_pendingPosition >= 0 ? m_pendingPosition
										 : m_editor->verticalScrollBar()->value());
}

void Dock::storeReadingPositions()
{
	for (auto it = m_readingPositions.constBegin(); it != m_readingPositions.constEnd(); ++it)
		m_settings->setValue(readingPositionKey(it.key()), it.value());
	m_settings->sync();
}

void Dock::hideEvent(QHideEvent *event)
{
	QWidget::hideEvent(event);
	setFormatPainter(false);
	hideRemotePopup();
	rememberReadingPosition();
	stopScrolling();
	saveNote(true, true);
}

void Dock::showEvent(QShowEvent *event)
{
	if (!m_styled) {
		m_styled = true;
		applyTheme();
		applySizeRules();
	}
	QWidget::showEvent(event);
	if (m_currentUuid.isEmpty())
		return;
	const QString uuid = m_currentUuid;
	const int position = storedReadingPosition(uuid);
	// After the layout has settled, and only if nothing moved on meanwhile.
	QTimer::singleShot(0, this, [this, uuid, position] {
		if (m_currentUuid == uuid && isVisible() && !isScrollingOrCountingDown())
			applyReadingPosition(position);
	});
}

} // namespace quillmar
