#pragma once

#include "remote/remote_state.h"

#include <obs.h>

#include <QAtomicInt>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <memory>

class QDialog;
class QLabel;
class QSettings;
class QWidget;
class QTcpServer;
class QThread;

namespace quillmar {

class Dock;
class Remote;
struct HttpHead;
struct Transfer;

// One request handed from an obs-websocket thread to the user-interface thread. Whoever lets go
// last frees it.
struct Work {
	enum State { Waiting = 0, Taken = 1, Abandoned = 2 };
	QSemaphore done;
	QAtomicInt state{Waiting};
	QJsonObject request;
	QJsonObject reply;
};

// What obs-websocket keeps as the request callback's private data. It outlives the service:
// obs-websocket may call the callback after its own lookup even while the service unregisters,
// so the callback must never reach the service itself from its thread.
struct RemoteLink {
	std::atomic<bool> shuttingDown{false};
	std::atomic<int> inFlight{0};
	// How long a request waits for the user-interface thread; shorter only in tests.
	std::atomic<int> handOverMs{3000};
	// Read and written only on the user-interface thread.
	QPointer<Remote> remote;
	QThread *uiThread = nullptr;
};

// The remote service: lets phones and tablets read and edit notes through obs-websocket vendor
// requests, and tells them about changes with vendor events.
class Remote : public QObject {
	Q_OBJECT

public:
	static constexpr qsizetype MaxPayloadBytes = 6 * 1024 * 1024;
	static constexpr qsizetype MaxDocumentBytes = 4 * 1024 * 1024;
	static constexpr int MaxInFlight = 8;
	static constexpr int HandOverMs = 3000;
	static constexpr int SweepMs = 1000;
	static constexpr int EventMs = 200;
	static constexpr quint16 DefaultPort = 8800;

	Remote(Dock *dock, QSettings *settings);
	~Remote() override;

	// Lifecycle.
	void start();
	bool listen(const QString &address, quint16 port);
	void stop();
	void shutdown();
	bool isRegistered() const { return m_registered; }
	bool isListening() const;
	bool isShuttingDown() const { return m_link->shuttingDown.load(); }
	QString listenError() const { return m_listenError; }
	QString url() const;
	QString accessToken() const { return m_token; }
	// A new token: every session is dropped and every open client loses its access.
	void resetToken();

	// What the dock reports.
	void noteChanged(const QString &scene);
	void lockChanged();
	void setLoading(bool on);
	void stateChanged();
	void scrollChanged();
	bool sceneInUse(const QString &scene) const;

	// The protocol, on the user-interface thread.
	QJsonObject dispatch(QJsonObject request);
	QJsonObject stateObject() const;
	QJsonObject documentReply(const QString &scene);
	QJsonObject commitReplacement(QJsonObject request, const QString &html, bool simplified);
	void emitEvent();
	void sweep();
	void resetEpoch();
	void releaseLease();

	// obs-websocket's request callback; private data is the service's RemoteLink.
	static void request(obs_data_t *requestData, obs_data_t *responseData, void *privateData);
	// The payload handling of request(), for callers that hold no obs_data.
	static QByteArray handle(RemoteLink *link, const QByteArray &payload);
	RemoteLink *link() const { return m_link; }

	// The HTTP server (http_server.cpp).
	static constexpr int MaxConnections = 16;
	static constexpr int HeadMs = 3000;
	static constexpr int BodyMs = 30000;
	QJsonObject configObject() const;
	quint16 websocketPort() const;
	// Accepted connections not yet destroyed.
	int connectionCount() const { return m_connections; }
	bool uploading() const { return !m_upload.isNull(); }
	// Shorter only in tests.
	void setHttpDeadlines(int headMs, int bodyMs)
	{
		m_headMs = headMs;
		m_bodyMs = bodyMs;
	}

	// The settings dialog and the QR pop-up (remote_dialog.cpp).
	void openSettings(QWidget *parent);
	// The dialog openSettings runs; the caller owns it.
	QDialog *makeSettings(QWidget *parent);
	// Over the host's top-right corner; a second call hides it.
	void toggleQrPopup(QWidget *host);
	// Whether it was visible.
	bool hideQrPopup();

	RemoteState &state() { return m_state; }
	void setClock(MonotonicClock clock) { m_state.setClock(std::move(clock)); }
	static QJsonObject error(const char *code);

Q_SIGNALS:
	// Every vendor event as sent, so that tests and the dock can follow them.
	void eventSent(const QString &type, const QByteArray &payload);

private:
	// The HTTP server (http_server.cpp).
	void acceptConnections();
	void readRequest(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer);
	void answerHead(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer, const QByteArray &bytes);
	void startUpload(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer, const HttpHead &head);
	void readBody(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer);
	void finishUpload(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer);
	void sendResponse(QTcpSocket *socket, Transfer &transfer, const QByteArray &body, const QByteArray &type,
			  int status);
	void sendJson(QTcpSocket *socket, Transfer &transfer, const QJsonObject &reply);
	void drain(QTcpSocket *socket, Transfer &transfer);
	void abortConnections();
	void abortUpload();

	bool registerVendor();
	void unregisterVendor();
	void schedule(bool stateChange);
	void sendEvent(const char *type, const QJsonObject &body);

	// Actions (remote_actions.cpp).
	QJsonObject runAction(const QString &action, const QString &session, const QJsonObject &request);
	QJsonObject keepAlive(const QString &session);
	QJsonObject getDocument(const QString &session, const QJsonObject &request);
	QJsonObject exportNote(const QJsonObject &request, bool html);
	QJsonObject releaseEdit(const QString &session);
	QJsonObject acquireEdit(const QString &session, const QJsonObject &request);
	QJsonObject saveDocument(const QString &session, const QJsonObject &request);
	QJsonObject replaceDocument(const QString &session, const QJsonObject &request);
	QJsonObject scroll(const QJsonObject &request);
	// The checks every edit passes; an empty object when they all pass.
	QJsonObject editChecks(const QString &session, const QJsonObject &request, bool needLease);
	bool readCurrentHtml(const QString &scene, QString &html);
	bool storeNote(const QString &scene, const QString &html);
	double scrollPosition() const;

	Dock *m_dock;
	QSettings *m_settings;
	RemoteLink *m_link;
	RemoteState m_state;
	QTcpServer *m_server;
	QString m_token;
	QString m_listenError;
	void *m_vendor = nullptr;
	bool m_registered = false;
	bool m_loading = false;
	bool m_pendingChange = false;
	struct BlocksCache {
		QString scene;
		QString html;
		QJsonObject blocks; // empty: the note does not fit a reply
	} m_blocksCache;
	QTimer m_sweepTimer;
	QTimer m_eventTimer;

	// The HTTP server (http_server.cpp).
	int m_connections = 0;
	int m_headMs = HeadMs;
	int m_bodyMs = BodyMs;
	// The one connection streaming an upload.
	QPointer<QTcpSocket> m_upload;
	mutable quint16 m_websocketPort = 0;
	mutable qint64 m_websocketPortRead = 0;

	// The QR pop-up (remote_dialog.cpp).
	QPointer<QLabel> m_qrPopup;
	QString m_qrPopupLink;
};

} // namespace quillmar
