#pragma once

#include "remote/remote_state.h"

#include <obs.h>

#include <QAtomicInt>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QTimer>

#include <atomic>

class QSettings;
class QTcpServer;
class QThread;

namespace quillmar {

class Dock;
class Remote;

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

	RemoteState &state() { return m_state; }
	void setClock(MonotonicClock clock) { m_state.setClock(std::move(clock)); }
	static QJsonObject error(const char *code);

Q_SIGNALS:
	// Every vendor event as sent, so that tests and the dock can follow them.
	void eventSent(const QString &type, const QByteArray &payload);

private:
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
};

} // namespace quillmar
