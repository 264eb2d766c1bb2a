#include "module/clock.h"
#include "remote/remote_state.h"
#include "test_util.h"

#include <QDateTime>
#include <QRegularExpression>

#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

using namespace quillmar;

// The system's wall clock, steppable by the tests as NTP or a user setting the time would.
static std::atomic<qint64> wallStepMs{0};
extern "C" int clock_gettime(clockid_t id, struct timespec *ts)
{
	const long result = syscall(SYS_clock_gettime, id, ts);
	const qint64 step = wallStepMs.load();
	if (result == 0 && step != 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) {
		const qint64 ns = qint64(ts->tv_sec) * 1000000000 + ts->tv_nsec + step * 1000000;
		ts->tv_sec = time_t(ns / 1000000000);
		ts->tv_nsec = long(ns % 1000000000);
	}
	return int(result);
}

class TestRemoteState : public QObject {
	Q_OBJECT

	qint64 m_now = 5000;

private Q_SLOTS:

	// A dropped session does not end its lease; a vanished scene does. A scene stays in use while
	// a session viewing it is alive, and no longer. The typing window ends on time, reported once.
	void timeline()
	{
		RemoteState state([this] { return m_now; });
		const auto exists = [](const QString &scene) { return scene != QLatin1String("gone"); };
		state.grantLease(state.open(QStringLiteral("Tablet")), QStringLiteral("gone"));
		state.dropSessions();
		QVERIFY(!state.sweep([](const QString &) { return true; }).leaseExpired);
		QCOMPARE(state.leaseHolderName(), QStringLiteral("Tablet"));
		QVERIFY(state.sweep(exists).leaseExpired);

		state.setViewedScene(state.open(QStringLiteral("Phone")), QStringLiteral("s"));
		state.openLocalWindow();
		QVERIFY(state.sceneInUse(QStringLiteral("s")) && !state.sceneInUse(QStringLiteral("t")));
		m_now += RemoteState::LocalEditingMs - 1;
		QVERIFY(state.localEditing());
		m_now += 1;
		QVERIFY(!state.localEditing());
		QVERIFY(state.sweep(exists).localWindowEnded);
		QVERIFY(!state.sweep(exists).localWindowEnded);
		m_now += RemoteState::SessionIdleMs - RemoteState::LocalEditingMs;
		QVERIFY(state.sceneInUse(QStringLiteral("s")));
		m_now += 1;
		QVERIFY(!state.sceneInUse(QStringLiteral("s")));
	}

	void deviceNames_data() { test::jsonTable("remote/device_names.json"); }
	void deviceNames()
	{
		QFETCH(QJsonObject, row);
		QCOMPARE(RemoteState::cleanDeviceName(row[QStringLiteral("raw")].toString()), row[QStringLiteral("expected")].toString());
	}

	// Tokens are URL-safe and fresh and match only in full; nothing matches an empty token.
	void tokens()
	{
		const QString a = RemoteState::newToken();
		QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{22}$")).match(a).hasMatch(), qPrintable(a));
		QVERIFY(a != RemoteState::newToken() && RemoteState::tokenMatches(a, a));
		const QString lastDiffers = a.chopped(1) + (a.back() == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A'));
		for (const QString &other : {a + QLatin1Char('w'), lastDiffers, QString(), a + QString(65536, QLatin1Char('x'))})
			QVERIFY2(!RemoteState::tokenMatches(other, a), qPrintable(other.left(30)));
		QVERIFY(!RemoteState::tokenMatches(QString(), QString()));
	}

	// Leases, sessions and scrolling are timed on the clock the service uses outside tests; the
	// system time set an hour back or ahead must not end a lease or freeze one.
	void productionClockIgnoresTheWallClock()
	{
		const MonotonicClock clock = steadyClock();
		const qint64 wall = QDateTime::currentMSecsSinceEpoch();
		const qint64 before = clock();
		for (const qint64 step : {qint64(-3600000), qint64(3600000)}) {
			wallStepMs = step;
			QVERIFY(qAbs(QDateTime::currentMSecsSinceEpoch() - wall - step) < 60000); // the step took
			const qint64 now = clock();
			wallStepMs = 0;
			QVERIFY(now >= before && now - before < 60000);
		}
	}
};

QTEST_GUILESS_MAIN(TestRemoteState)
#include "tst_state.moc"
