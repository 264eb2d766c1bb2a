// The remote protocol: the dispatcher, one function per action, and the replies.
#include "remote/remote.h"

#include "documents/blocks.h"
#include "dock/dock.h"
#include "editor/editor.h"
#include "module/hotkeys.h"
#include "module/text.h"

#include <obs-frontend-api.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QScrollBar>

#include <cmath>

namespace quillmar {

namespace {

bool sceneExists(const QString &uuid)
{
	return sceneByUuid(uuid) != nullptr;
}

QString key(const char *name)
{
	return QString::fromLatin1(name);
}

QJsonObject ok(QJsonObject reply = QJsonObject())
{
	reply.insert(key("ok"), true);
	return reply;
}

qsizetype compactSize(const QJsonObject &object)
{
	return QJsonDocument(object).toJson(QJsonDocument::Compact).size();
}

QJsonArray sceneList()
{
	QJsonArray scenes;
	struct obs_frontend_source_list list = {};
	obs_frontend_get_scenes(&list);
	for (size_t i = 0; i < list.sources.num; ++i) {
		obs_source_t *scene = list.sources.array[i];
		scenes.append(QJsonObject{{key("id"), QString::fromUtf8(obs_source_get_uuid(scene))},
					  {key("name"), QString::fromUtf8(obs_source_get_name(scene))}});
	}
	obs_frontend_source_list_free(&list);
	return scenes;
}

} // namespace

QJsonObject Remote::dispatch(QJsonObject request)
{
	if (isShuttingDown() || !isListening())
		return error("disabled");
	if (!RemoteState::tokenMatches(request.value(key("access")).toString(), m_token))
		return error("access");
	sweep();
	if (m_loading || m_dock->isRestoring() || !m_dock->isCollectionReady())
		return error("loading");
	const QString action = request.value(key("action")).toString();
	if (action == QLatin1String("Open")) {
		QString name = RemoteState::cleanDeviceName(request.value(key("name")).toVariant().toString());
		if (name.isEmpty())
			name = text("RemoteDevice");
		const QString session = m_state.open(name);
		if (session.isEmpty())
			return error("capacity");
		QJsonObject reply = stateObject();
		reply.insert(key("session"), session);
		return ok(reply);
	}
	const QString session = request.value(key("session")).toString();
	if (!m_state.touch(session))
		return error("session");
	return runAction(action, session, request);
}

QJsonObject Remote::runAction(const QString &action, const QString &session, const QJsonObject &request)
{
	if (action == QLatin1String("KeepAlive"))
		return keepAlive(session);
	if (action == QLatin1String("GetState"))
		return ok(stateObject());
	if (action == QLatin1String("GetDocument"))
		return getDocument(session, request);
	if (action == QLatin1String("ExportHtml"))
		return exportNote(request, true);
	if (action == QLatin1String("ExportText"))
		return exportNote(request, false);
	if (action == QLatin1String("ReleaseEdit"))
		return releaseEdit(session);
	if (action == QLatin1String("AcquireEdit"))
		return acquireEdit(session, request);
	if (action == QLatin1String("SaveDocument"))
		return saveDocument(session, request);
	if (action == QLatin1String("ReplaceDocument"))
		return replaceDocument(session, request);
	if (action == QLatin1String("CheckImport")) {
		const QJsonObject refused = editChecks(session, request, true);
		return refused.isEmpty() ? ok() : refused;
	}
	if (action == QLatin1String("Scroll"))
		return scroll(request);
	return error("action");
}

QJsonObject Remote::stateObject() const
{
	const bool local = m_state.localEditing();
	QString editor;
	QString editorScene;
	if (local) {
		editor = QStringLiteral("OBS");
		editorScene = m_dock->currentSceneUuid();
	} else if (m_state.leaseHeld()) {
		editor = m_state.leaseHolderName();
		editorScene = m_state.leaseScene();
	}
	return QJsonObject{{key("epoch"), m_state.epoch()},
			   {key("scenes"), m_loading ? QJsonArray() : sceneList()},
			   {key("activeScene"), m_dock->currentSceneUuid()},
			   {key("locked"), m_dock->isLocked()},
			   {key("localEditing"), local},
			   {key("editor"), editor},
			   {key("editorScene"), editorScene},
			   {key("scrolling"), m_dock->isScrollingOrCountingDown()},
			   {key("speed"), m_dock->scrollSpeed()},
			   {key("position"), scrollPosition()}};
}

double Remote::scrollPosition() const
{
	const QScrollBar *bar = m_dock->editor()->verticalScrollBar();
	const int range = bar->maximum() - bar->minimum();
	return range < 1 ? 0.0 : double(bar->value() - bar->minimum()) / double(range);
}

bool Remote::readCurrentHtml(const QString &scene, QString &html)
{
	if (scene == m_dock->currentSceneUuid() && m_dock->isDirty()) {
		html = m_dock->editor()->toHtml();
		return true;
	}
	const OBSSourceAutoRelease ref = sceneByUuid(scene);
	QString readError;
	html = m_dock->noteStore().readNote(ref, readError);
	return readError.isEmpty();
}

bool Remote::storeNote(const QString &scene, const QString &html)
{
	const OBSSourceAutoRelease ref = sceneByUuid(scene);
	return ref && m_dock->applyRemoteNote(ref, html);
}

QJsonObject Remote::documentReply(const QString &scene)
{
	if (!sceneExists(scene))
		return error("scene");
	const bool current = scene == m_dock->currentSceneUuid();
	if (current && m_dock->hasLoadError())
		return error("read");
	if (current && m_dock->editor()->document()->characterCount() - 1 > kNoteCharLimit)
		return error("size");
	QString html;
	if (!readCurrentHtml(scene, html))
		return error("read");
	// Every viewer reloads after each change: convert a note's text once, not once per viewer.
	// Keyed by the text itself, so a change that bypassed the revisions cannot be served stale.
	if (m_blocksCache.scene != scene || m_blocksCache.html != html) {
		QJsonObject blocks = htmlToBlocks(html);
		const bool fits = !blocks.isEmpty() && compactSize(blocks) <= MaxDocumentBytes;
		m_blocksCache = {scene, html, fits ? blocks : QJsonObject()};
	}
	QJsonObject reply = m_blocksCache.blocks;
	if (reply.isEmpty())
		return error("size");
	reply.insert(key("revision"), m_state.revision(scene));
	reply.insert(key("epoch"), m_state.epoch());
	reply.insert(key("scene"), scene);
	return ok(reply);
}

QJsonObject Remote::keepAlive(const QString &session)
{
	const bool editing = m_state.leaseHeld() && m_state.leaseSession() == session;
	if (editing)
		m_state.renewLease();
	return ok(QJsonObject{{key("editing"), editing}, {key("locked"), m_dock->isLocked()}, {key("epoch"), m_state.epoch()}});
}

QJsonObject Remote::getDocument(const QString &session, const QJsonObject &request)
{
	const QString scene = request.value(key("scene")).toString();
	const QJsonObject reply = documentReply(scene);
	if (reply.value(key("ok")).toBool())
		m_state.setViewedScene(session, scene);
	return reply;
}

QJsonObject Remote::exportNote(const QJsonObject &request, bool html)
{
	const QString scene = request.value(key("scene")).toString();
	if (!sceneExists(scene))
		return error("scene");
	QString note;
	if (!readCurrentHtml(scene, note))
		return error("read");
	if (note.toUtf8().size() > MaxDocumentBytes)
		return error("size");
	if (html)
		return ok(QJsonObject{{key("html"), note}});
	return ok(QJsonObject{{key("text"), htmlToPlainText(note)}});
}

QJsonObject Remote::releaseEdit(const QString &session)
{
	if (m_state.leaseHeld() && m_state.leaseSession() == session)
		releaseLease();
	return ok(stateObject());
}

QJsonObject Remote::editChecks(const QString &session, const QJsonObject &request, bool needLease)
{
	const QString scene = request.value(key("scene")).toString();
	const QJsonValue revision = request.value(key("revision"));
	if (m_dock->isLocked())
		return error("locked");
	if (request.value(key("epoch")).toString() != m_state.epoch() || !revision.isDouble() ||
	    revision.toDouble() != double(m_state.revision(scene)))
		return error("conflict");
	if (!sceneExists(scene))
		return error("scene");
	if (m_state.localEditing() || (m_state.leaseHeld() && !m_state.holdsLease(session, scene)))
		return error("busy");
	if (needLease && !m_state.holdsLease(session, scene))
		return error("lease");
	return QJsonObject();
}

QJsonObject Remote::acquireEdit(const QString &session, const QJsonObject &request)
{
	const QJsonObject refused = editChecks(session, request, false);
	if (!refused.isEmpty())
		return refused;
	if (!m_dock->saveNote(false, true))
		return error("save");
	const QString scene = request.value(key("scene")).toString();
	const bool replace = request.value(key("replace")).toBool();
	const QJsonObject reply = replace ? ok() : documentReply(scene);
	if (!reply.value(key("ok")).toBool())
		return reply;
	if (!replace && !reply.value(key("editable")).toBool())
		return error("format");
	m_state.grantLease(session, scene);
	m_dock->setRemoteEditing(true);
	schedule(true);
	return reply;
}

QJsonObject Remote::saveDocument(const QString &session, const QJsonObject &request)
{
	const QJsonObject refused = editChecks(session, request, true);
	if (!refused.isEmpty())
		return refused;
	const QString scene = request.value(key("scene")).toString();
	QString stored;
	{
		const OBSSourceAutoRelease ref = sceneByUuid(scene);
		QString readError;
		stored = m_dock->noteStore().readNote(ref, readError);
		if (!readError.isEmpty())
			return error("read");
	}
	QString updated;
	bool limit = false;
	if (!applyBlocks(stored, request.value(key("document")).toObject(), updated, &limit))
		return error(limit ? "limit" : "format");
	if (updated != stored) {
		// What is stored must stay readable by every client.
		const QJsonObject blocks = htmlToBlocks(updated);
		if (blocks.isEmpty() || compactSize(blocks) > MaxDocumentBytes)
			return error("size");
		if (!storeNote(scene, updated))
			return error("save");
		noteChanged(scene);
	}
	m_state.renewLease();
	return ok(QJsonObject{{key("revision"), m_state.revision(scene)}, {key("epoch"), m_state.epoch()}});
}

QJsonObject Remote::replaceDocument(const QString &session, const QJsonObject &request)
{
	const QJsonObject refused = editChecks(session, request, true);
	if (!refused.isEmpty())
		return refused;
	QString html;
	bool limit = false;
	if (!applyBlocks(QString(), request.value(key("document")).toObject(), html, &limit))
		return error(limit ? "limit" : "format");
	return commitReplacement(request, html, false);
}

QJsonObject Remote::commitReplacement(QJsonObject request, const QString &html, bool simplified)
{
	QJsonObject reply = htmlToBlocks(html);
	if (reply.isEmpty() || compactSize(reply) > MaxDocumentBytes)
		return error("size");
	request.insert(key("action"), QStringLiteral("CheckImport"));
	const QJsonObject checked = dispatch(request);
	if (!checked.value(key("ok")).toBool())
		return checked;
	const QString scene = request.value(key("scene")).toString();
	if (!storeNote(scene, html))
		return error("save");
	noteChanged(scene);
	m_state.renewLease();
	reply.insert(key("epoch"), m_state.epoch());
	reply.insert(key("revision"), m_state.revision(scene));
	reply.insert(key("scene"), scene);
	reply.insert(key("simplified"), simplified);
	return ok(reply);
}

QJsonObject Remote::scroll(const QJsonObject &request)
{
	const QString command = request.value(key("command")).toString();
	if (command == QLatin1String("speed")) {
		const QJsonValue speed = request.value(key("speed"));
		const double value = speed.toDouble();
		if (!speed.isDouble() || !std::isfinite(value) || value < 1.0 || value > 5.0)
			return error("range");
		m_dock->setScrollSpeed(value);
	} else if (command == QLatin1String("start")) {
		m_dock->runHotkeyAction(HotkeyStart);
	} else if (command == QLatin1String("pause")) {
		m_dock->runHotkeyAction(HotkeyPause);
	} else if (command == QLatin1String("top")) {
		m_dock->runHotkeyAction(HotkeyTop);
	} else if (command == QLatin1String("seek")) {
		if (request.value(key("scene")).toString() != m_dock->currentSceneUuid() ||
		    m_dock->currentSceneUuid().isEmpty())
			return error("scene");
		if (m_state.localEditing() || m_state.leaseHeld())
			return error("busy");
		if (!m_dock->goTo(request.value(key("target")).toString()))
			return error("range");
	} else {
		return error("command");
	}
	return ok(stateObject());
}

void Remote::noteChanged(const QString &scene)
{
	if (!isListening() || scene.isEmpty())
		return;
	if (!m_state.leaseHeld() && scene == m_dock->currentSceneUuid() && !m_dock->isLocked())
		m_state.openLocalWindow();
	m_state.countChange(scene);
	schedule(true);
}

void Remote::lockChanged()
{
	if (m_dock->isLocked() || m_state.leaseHeld()) {
		if (m_dock->isLocked())
			m_state.closeLocalWindow();
		else
			m_state.openLocalWindow();
		releaseLease();
		abortUpload();
	}
	schedule(true);
}

void Remote::releaseLease()
{
	const bool held = m_state.releaseLease();
	m_dock->setRemoteEditing(false);
	if (held)
		schedule(true);
}

void Remote::setLoading(bool on)
{
	m_loading = on;
	if (on)
		resetEpoch();
	schedule(true);
}

void Remote::resetEpoch()
{
	releaseLease();
	m_state.closeLocalWindow();
	m_state.newEpoch();
	schedule(true);
}

void Remote::sweep()
{
	const RemoteState::SweepResult result = m_state.sweep(sceneExists);
	if (result.localWindowEnded)
		schedule(true);
	if (result.leaseExpired)
		releaseLease();
}

bool Remote::sceneInUse(const QString &scene) const
{
	return m_state.sceneInUse(scene);
}

} // namespace quillmar
