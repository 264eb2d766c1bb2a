#pragma once

// A stand-in for obs-websocket's vendor API on the real libobs procedure handlers, and one
// builder for a listening remote service over a dock with scenes, so that the remote tests
// and the benchmark drive the service as phones do: JSON payloads through the request callback.

#include "dock/dock.h"
#include "documents/blocks.h"
#include "fake_frontend.h"
#include "obs_test_env.h"
#include "remote/remote.h"

#include <obs-websocket-api.h>
#include <obs.hpp>

#include <QJsonDocument>
#include <QMutex>
#include <QSettings>

#include <memory>
#include <utility>
#include <vector>

namespace quillmar::test {

class FakeWebsocket {
public:
	static FakeWebsocket &instance()
	{
		static FakeWebsocket *fake = new FakeWebsocket;
		return *fake;
	}

	// Calls the registered callback from the calling thread, as obs-websocket does.
	QJsonObject call(const QJsonObject &request) { return callRaw(QJsonDocument(request).toJson(QJsonDocument::Compact)); }
	QJsonObject callRaw(const QByteArray &payload)
	{
		const obs_websocket_request_callback callback = lastCallback(false);
		return callback.callback ? callWith(callback, payload) : QJsonObject{{QStringLiteral("code"), QStringLiteral("unregistered")}};
	}
	static QJsonObject callWith(const obs_websocket_request_callback &callback, const QByteArray &payload)
	{
		const OBSDataAutoRelease request = obs_data_create(), response = obs_data_create();
		obs_data_set_string(request, "payload", payload.constData());
		callback.callback(request, response, callback.priv_data);
		return QJsonDocument::fromJson(obs_data_get_string(response, "payload")).object();
	}

	// The callback as last registered, kept after unregistering: obs-websocket may still call
	// one it looked up just before.
	obs_websocket_request_callback lastCallback(bool evenUnregistered = true)
	{
		const QMutexLocker locker(&m_mutex);
		return evenUnregistered ? m_last : m_callback;
	}

	struct Event { QString type; QJsonObject body; };
	std::vector<Event> takeEvents()
	{
		const QMutexLocker locker(&m_mutex);
		return std::exchange(m_events, {});
	}

private:
	FakeWebsocket()
	{
		m_ph = proc_handler_create();
		proc_handler_add(m_ph, "void vendor_register(in string name, out ptr vendor)", vendorRegister, this);
		proc_handler_add(m_ph, "void vendor_request_register(in ptr vendor, in string type, in ptr callback, out bool success)", requestRegister, this);
		proc_handler_add(m_ph, "void vendor_request_unregister(in ptr vendor, in string type, out bool success)", requestUnregister, this);
		proc_handler_add(m_ph, "void vendor_event_emit(in ptr vendor, in string type, in ptr data, out bool success)", eventEmit, this);
		proc_handler_add(obs_get_proc_handler(), "void obs_websocket_api_get_ph(out ptr ph)", getPh, this);
	}
	static FakeWebsocket *self(void *data) { return static_cast<FakeWebsocket *>(data); }
	static void getPh(void *data, calldata_t *cd) { calldata_set_ptr(cd, "ph", self(data)->m_ph); }
	static void vendorRegister(void *data, calldata_t *cd) { calldata_set_ptr(cd, "vendor", data); }
	static void requestRegister(void *data, calldata_t *cd)
	{
		const QMutexLocker locker(&self(data)->m_mutex);
		self(data)->m_last = self(data)->m_callback = *static_cast<obs_websocket_request_callback *>(calldata_ptr(cd, "callback"));
		calldata_set_bool(cd, "success", true);
	}
	static void requestUnregister(void *data, calldata_t *cd)
	{
		const QMutexLocker locker(&self(data)->m_mutex);
		self(data)->m_callback = {};
		calldata_set_bool(cd, "success", true);
	}
	static void eventEmit(void *data, calldata_t *cd)
	{
		const QJsonObject body = QJsonDocument::fromJson(obs_data_get_string(static_cast<obs_data_t *>(calldata_ptr(cd, "data")), "payload")).object();
		const QMutexLocker locker(&self(data)->m_mutex);
		self(data)->m_events.push_back({QString::fromUtf8(calldata_string(cd, "type")), body});
		calldata_set_bool(cd, "success", true);
	}

	proc_handler_t *m_ph = nullptr;
	QMutex m_mutex;
	obs_websocket_request_callback m_callback{};
	obs_websocket_request_callback m_last{};
	std::vector<Event> m_events;
};

inline QString code(const QJsonObject &reply)
{
	return reply.value(QStringLiteral("ok")).toBool() ? QStringLiteral("ok") : reply.value(QStringLiteral("code")).toString();
}

// The block document a client would send for one paragraph of plain text.
inline QJsonObject plainDocument(const QString &text)
{
	return htmlToBlocks(QStringLiteral("<p>%1</p>").arg(text.toHtmlEscaped()));
}

// A dock showing the first of its scenes, its service registered and listening on loopback,
// on a clock the test moves.
struct RemoteRig {
	std::vector<std::unique_ptr<Scene>> scenes;
	std::unique_ptr<Dock> dock;
	Remote *remote = nullptr;
	qint64 now = 1000;

	explicit RemoteRig(int sceneCount = 2)
	{
		resetHost();
		FakeWebsocket::instance();
		for (int i = 0; i < sceneCount; ++i)
			scenes.push_back(std::make_unique<Scene>(qPrintable(QStringLiteral("Scene %1").arg(i + 1))));
		if (sceneCount > 0)
			fake::setProgramScene(scenes.front()->source(), false);
		dock = std::make_unique<Dock>(moduleConfigDir() + QStringLiteral("/settings.ini"));
		dock->onFrontendEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		remote = dock->remote();
		remote->setClock([this] { return now; });
		remote->start();
		if (!remote->listen(QStringLiteral("127.0.0.1"), 0))
			qFatal("the remote service does not listen: %s", qPrintable(remote->listenError()));
		FakeWebsocket::instance().takeEvents();
	}
	~RemoteRig()
	{
		dock.reset();
		fake::reset();
	}

	QString scene(int i = 0) const { return scenes.at(size_t(i))->uuid(); }
	// The note as stored, as plain text unless asked for its HTML.
	QString stored(bool html = false) const
	{
		QString error;
		const QString note = dock->noteStore().readNote(scenes.front()->source(), error);
		return html ? note : htmlToPlainText(note);
	}

	// A request with the token and, when given, the session.
	QJsonObject make(const char *action, const QString &session = QString(), QJsonObject fields = QJsonObject()) const
	{
		fields.insert(QStringLiteral("access"), remote->accessToken());
		fields.insert(QStringLiteral("action"), QString::fromLatin1(action));
		if (!session.isEmpty())
			fields.insert(QStringLiteral("session"), session);
		return fields;
	}
	QJsonObject send(const QJsonObject &request) { return FakeWebsocket::instance().call(request); }
	QString open(const QString &name = QStringLiteral("Phone"))
	{
		return send(make("Open", QString(), {{QStringLiteral("name"), name}})).value(QStringLiteral("session")).toString();
	}
	// An edit request quoting the current epoch and the scene's current revision.
	QJsonObject edit(const char *action, const QString &session, const QString &scene, QJsonObject fields = QJsonObject())
	{
		fields.insert(QStringLiteral("scene"), scene);
		fields.insert(QStringLiteral("epoch"), remote->state().epoch());
		fields.insert(QStringLiteral("revision"), remote->state().revision(scene));
		return make(action, session, fields);
	}
	// The reply's code ("ok" or the error's).
	QString ask(const QJsonObject &request) { return code(send(request)); }
	QString acquire(const QString &session) { return ask(edit("AcquireEdit", session, scene())); }
};

} // namespace quillmar::test
