// The obs-websocket side of the remote service: registration, the request callback and its
// hand-over to the user-interface thread, events, and the service's lifecycle.
#include "remote/remote.h"

#include "dock/dock.h"

#include <obs-websocket-api.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstring>
#include <memory>
#include <vector>

namespace quillmar {

namespace {

const char *const VendorName = "Quillmar";
const char *const RequestType = "Request";

// Links handed to obs-websocket are never freed: a callback that passed obs-websocket's lookup
// just before unregistering may still read one. Kept reachable so that leak checkers stay quiet.
std::vector<std::unique_ptr<RemoteLink>> &retainedLinks()
{
	static std::vector<std::unique_ptr<RemoteLink>> links;
	return links;
}

QMutex &retainedLinksMutex()
{
	static QMutex mutex;
	return mutex;
}

RemoteLink *newLink()
{
	const QMutexLocker locker(&retainedLinksMutex());
	retainedLinks().push_back(std::make_unique<RemoteLink>());
	return retainedLinks().back().get();
}

bool validToken(const QString &token)
{
	if (token.size() != 22)
		return false;
	for (const QChar c : token)
		if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') && c != QLatin1Char('_'))
			return false;
	return true;
}

QJsonObject handOver(RemoteLink *link, const QByteArray &payload)
{
	QJsonParseError parseError;
	const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
	if (parseError.error != QJsonParseError::NoError || !document.isObject())
		return Remote::error("format");
	if (QThread::currentThread() == link->uiThread) {
		Remote *remote = link->remote;
		return remote ? remote->dispatch(document.object()) : Remote::error("disabled");
	}
	QCoreApplication *app = QCoreApplication::instance();
	if (!app)
		return Remote::error("disabled");
	auto work = std::make_shared<Work>();
	work->request = document.object();
	QMetaObject::invokeMethod(
		app,
		[link, work] {
			if (!work->state.testAndSetOrdered(Work::Waiting, Work::Taken))
				return;
			Remote *remote = link->remote;
			work->reply = remote && !link->shuttingDown.load() ? remote->dispatch(work->request)
									   : Remote::error("disabled");
			work->done.release();
		},
		Qt::QueuedConnection);
	if (work->done.tryAcquire(1, link->handOverMs.load()))
		return work->reply;
	if (work->state.testAndSetOrdered(Work::Waiting, Work::Abandoned))
		return Remote::error("timeout");
	// The user-interface thread took it just as the wait ended: the action runs, so its real
	// reply is the only honest answer.
	work->done.acquire();
	return work->reply;
}

} // namespace

QJsonObject Remote::error(const char *code)
{
	return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("code"), QString::fromLatin1(code)}};
}

Remote::Remote(Dock *dock, QSettings *settings)
	: QObject(dock), m_dock(dock), m_settings(settings), m_link(newLink()), m_server(new QTcpServer(this))
{
	m_link->remote = this;
	m_link->uiThread = thread();
	m_token = m_settings->value(QStringLiteral("remote/access")).toString();
	if (!validToken(m_token)) {
		m_token = RemoteState::newToken();
		m_settings->setValue(QStringLiteral("remote/access"), m_token);
	}
	m_sweepTimer.setInterval(SweepMs);
	m_eventTimer.setInterval(EventMs);
	m_eventTimer.setSingleShot(true);
	connect(&m_sweepTimer, &QTimer::timeout, this, &Remote::sweep);
	connect(&m_eventTimer, &QTimer::timeout, this, &Remote::emitEvent);
	connect(m_server, &QTcpServer::newConnection, this, &Remote::acceptConnections);
}

Remote::~Remote()
{
	// The dock is being torn down: leave it alone, only cut the ties with obs-websocket.
	if (!m_link->shuttingDown.exchange(true)) {
		m_server->close();
		unregisterVendor();
	}
	m_link->remote = nullptr;
}

bool Remote::registerVendor()
{
	if (!obs_websocket_ensure_ph())
		return false;
	if (!m_vendor)
		m_vendor = obs_websocket_register_vendor(VendorName);
	if (!m_vendor)
		return false;
	return obs_websocket_vendor_register_request(m_vendor, RequestType, &Remote::request, m_link);
}

void Remote::unregisterVendor()
{
	if (m_registered)
		obs_websocket_vendor_unregister_request(m_vendor, RequestType);
	m_registered = false;
}

void Remote::start()
{
	if (m_registered || isShuttingDown())
		return;
	m_registered = registerVendor();
	if (m_registered && m_settings->value(QStringLiteral("remote/enabled"), false).toBool())
		listen(m_settings->value(QStringLiteral("remote/address")).toString(),
		       quint16(m_settings->value(QStringLiteral("remote/port"), DefaultPort).toUInt()));
}

bool Remote::isListening() const
{
	return m_server->isListening();
}

bool Remote::listen(const QString &address, quint16 port)
{
	stop();
	m_listenError.clear();
	if (isShuttingDown())
		return false;
	QHostAddress host;
	if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol ||
	    host == QHostAddress(QHostAddress::AnyIPv4) || host.isMulticast()) {
		m_listenError = address;
		return false;
	}
	if (!m_server->listen(host, port)) {
		m_listenError = m_server->errorString();
		return false;
	}
	m_sweepTimer.start();
	m_dock->showRemoteQrButton(true);
	return true;
}

void Remote::stop()
{
	hideQrPopup();
	releaseLease();
	m_server->close();
	m_dock->showRemoteQrButton(false);
	abortConnections();
	m_state.closeLocalWindow();
	m_sweepTimer.stop();
	m_eventTimer.stop();
	m_pendingChange = false;
	m_state.dropSessions();
	m_state.newEpoch();
	m_blocksCache = {};
}

void Remote::shutdown()
{
	if (m_link->shuttingDown.exchange(true))
		return;
	stop();
	unregisterVendor();
}

QString Remote::url() const
{
	if (!isListening())
		return QString();
	return QStringLiteral("http://%1:%2/#%3")
		.arg(m_server->serverAddress().toString())
		.arg(m_server->serverPort())
		.arg(m_token);
}

void Remote::resetToken()
{
	m_token = RemoteState::newToken();
	m_settings->setValue(QStringLiteral("remote/access"), m_token);
	m_state.dropSessions();
	resetEpoch();
}

void Remote::request(obs_data_t *requestData, obs_data_t *responseData, void *privateData)
{
	const char *text = requestData ? obs_data_get_string(requestData, "payload") : nullptr;
	// Measured without reading past the cap, so a huge payload is never copied.
	const qsizetype length = text ? qsizetype(strnlen(text, size_t(MaxPayloadBytes) + 1)) : 0;
	const QByteArray payload = length > MaxPayloadBytes ? QByteArray(length, '\0') : QByteArray(text, length);
	const QByteArray reply = handle(static_cast<RemoteLink *>(privateData), payload);
	if (responseData)
		obs_data_set_string(responseData, "payload", reply.constData());
}

QByteArray Remote::handle(RemoteLink *link, const QByteArray &payload)
{
	QJsonObject reply;
	if (payload.size() > MaxPayloadBytes) {
		reply = error("size");
	} else if (link->shuttingDown.load()) {
		reply = error("disabled");
	} else if (link->inFlight.fetch_add(1) >= MaxInFlight) {
		link->inFlight.fetch_sub(1);
		reply = error("capacity");
	} else {
		reply = handOver(link, payload);
		link->inFlight.fetch_sub(1);
	}
	return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

void Remote::schedule(bool stateChange)
{
	if (!isListening())
		return;
	if (stateChange)
		m_pendingChange = true;
	if (!m_eventTimer.isActive())
		m_eventTimer.start();
}

void Remote::stateChanged()
{
	schedule(true);
}

void Remote::scrollChanged()
{
	if (m_state.sessionCount() > 0)
		schedule(false);
}

void Remote::emitEvent()
{
	if (!m_registered || !isListening())
		return;
	if (m_state.sessionCount() == 0) {
		m_state.forgetChanged();
	} else if (m_pendingChange) {
		QJsonObject body = stateObject();
		body.insert(QStringLiteral("changed"), QJsonArray::fromStringList(m_state.takeChanged()));
		sendEvent("Changed", body);
	} else {
		sendEvent("Scroll", QJsonObject{{QStringLiteral("epoch"), m_state.epoch()},
						{QStringLiteral("scene"), m_dock->currentSceneUuid()},
						{QStringLiteral("position"), scrollPosition()}});
	}
	m_pendingChange = false;
}

void Remote::sendEvent(const char *type, const QJsonObject &body)
{
	const OBSDataAutoRelease data = obs_data_create();
	obs_data_set_string(data, "payload", QJsonDocument(body).toJson(QJsonDocument::Compact).constData());
	obs_websocket_vendor_emit_event(m_vendor, type, data);
}

} // namespace quillmar
