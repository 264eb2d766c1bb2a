#pragma once

#include "module/clock.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace quillmar {


struct RemoteSession {
	QString name;
	qint64 lastSeen = 0;
	QString viewedScene;
};

// Who may talk to the module and who may change a note: remote sessions, the one edit lease,
// the local-editing window, epochs and per-scene revisions. No widgets, no host calls; the
// service asks it and acts on the answers.
class RemoteState {
public:
	static constexpr int MaxSessions = 16;
	static constexpr qint64 SessionIdleMs = 60000;
	static constexpr qint64 LeaseMs = 15000;
	static constexpr qint64 LocalEditingMs = 2000;
	static constexpr int MaxDeviceNameUnits = 32;

	explicit RemoteState(MonotonicClock clock = steadyClock());

	void setClock(MonotonicClock clock) { m_clock = std::move(clock); }
	qint64 now() const { return m_clock(); }

	// Sessions. open() returns the new id, or an empty string when all are taken.
	QString open(const QString &name);
	// Marks a live session as seen now; false for an unknown id.
	bool touch(const QString &id);
	const RemoteSession *session(const QString &id) const;
	void setViewedScene(const QString &id, const QString &scene);
	int sessionCount() const { return int(m_sessions.size()); }
	void dropSessions() { m_sessions.clear(); }
	// The scene is leased, or shown by a session that was seen within the idle limit.
	bool sceneInUse(const QString &scene) const;

	// The lease.
	bool leaseHeld() const { return !m_leaseSession.isEmpty(); }
	QString leaseSession() const { return m_leaseSession; }
	QString leaseScene() const { return m_leaseScene; }
	bool holdsLease(const QString &session, const QString &scene) const;
	// The device name of the holder, even after its session was dropped.
	QString leaseHolderName() const { return m_leaseName; }
	void grantLease(const QString &session, const QString &scene);
	void renewLease();
	// True when a lease was held.
	bool releaseLease();

	// The window after a local change in which remote edits are refused.
	void openLocalWindow() { m_localUntil = now() + LocalEditingMs; m_localOpen = true; }
	void closeLocalWindow() { m_localOpen = false; }
	bool localEditing() const { return m_localOpen && m_localUntil > now(); }

	// Epochs and revisions. A new epoch forgets every revision and the changed set.
	QString epoch() const { return m_epoch; }
	void newEpoch();
	int revision(const QString &scene) const { return m_revisions.value(scene, 0); }
	void countChange(const QString &scene);
	QStringList takeChanged();
	void forgetChanged() { m_changed.clear(); }

	struct SweepResult {
		bool localWindowEnded = false;
		bool leaseExpired = false;
	};
	// Ends a lapsed local window and lease and drops idle sessions; a lease whose scene is gone
	// ends too. The caller releases the dock's side of an expired lease.
	SweepResult sweep(const std::function<bool(const QString &)> &sceneExists);

	// Collapsed white space, at most 32 UTF-16 units without splitting a pair, no control or
	// direction-override characters; empty when nothing is left.
	static QString cleanDeviceName(const QString &raw);
	// Compares in time that depends only on the token's length.
	static bool tokenMatches(const QString &given, const QString &token);
	// 16 random bytes as 22 URL-safe Base64 characters.
	static QString newToken();

private:
	MonotonicClock m_clock;
	QHash<QString, RemoteSession> m_sessions;
	QString m_leaseSession;
	QString m_leaseScene;
	QString m_leaseName;
	qint64 m_leaseExpiry = 0;
	qint64 m_localUntil = 0;
	bool m_localOpen = false;
	QString m_epoch;
	QHash<QString, int> m_revisions;
	QStringList m_changed;
};

} // namespace quillmar
