#include "editor/editor.h"
#include "remote_fixture.h"

#include <QThread>

#include <atomic>
#include <functional>
#include <thread>

using namespace quillmar;
using namespace quillmar::test;

namespace {

// Runs a function on the first event of a kind that reaches an object; Qt drops the filter with it.
struct Intercept : QObject {
	QObject *target;
	QEvent::Type type;
	std::function<void()> action;
	Intercept(QObject *t, QEvent::Type k, std::function<void()> a) : target(t), type(k), action(std::move(a)) { t->installEventFilter(this); }
	bool eventFilter(QObject *watched, QEvent *event) override
	{
		if (watched == target && event->type() == type && action)
			std::exchange(action, nullptr)();
		return false;
	}
};

// Waits without taking events, as a thread blocked in a call would.
bool waitFor(const std::function<bool()> &condition)
{
	const QDeadlineTimer deadline(20000);
	while (!condition() && !deadline.hasExpired())
		QThread::yieldCurrentThread();
	return condition();
}

} // namespace

class TestRemoteHandOver : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void ninthRequestGetsCapacity()
	{
		RemoteRig rig;
		const QString a = rig.open();
		rig.remote->link()->handOverMs = 60000;
		std::atomic<int> oks{0};
		std::vector<std::thread> threads;
		for (int i = 0; i < Remote::MaxInFlight; ++i)
			threads.emplace_back([&] {
				if (rig.ask(rig.make("GetState", a)) == QLatin1String("ok"))
					++oks;
			});
		// The user-interface thread takes nothing until all eight wait.
		QVERIFY(waitFor([&] { return rig.remote->link()->inFlight.load() == Remote::MaxInFlight; }));
		QCOMPARE(rig.ask(rig.make("GetState", a)), QStringLiteral("capacity"));
		QTRY_COMPARE_WITH_TIMEOUT(oks.load(), Remote::MaxInFlight, 20000);
		for (auto &t : threads)
			t.join();
		QCOMPARE(rig.remote->link()->inFlight.load(), 0);
		QCOMPARE(rig.ask(rig.make("GetState", a)), QStringLiteral("ok"));
	}

	// A hand-over that reaches the user-interface thread only after the caller gave up never
	// runs; one taken just as the wait ends, and held there (taking the lease sets the editor's
	// tool tip), gives its real reply.
	void lateHandOvers_data()
	{
		QTest::addColumn<bool>("taken");
		QTest::newRow("abandoned") << false;
		QTest::newRow("taken as the wait ends") << true;
	}
	void lateHandOvers()
	{
		QFETCH(bool, taken);
		RemoteRig rig;
		const QString a = rig.open();
		rig.remote->link()->handOverMs = taken ? 300 : 50; // 300: long enough for a loaded machine to take it in time
		std::atomic<bool> replied{false};
		QJsonObject reply;
		Intercept late(taken ? static_cast<QObject *>(rig.dock->editor()) : qApp, taken ? QEvent::ToolTipChange : QEvent::MetaCall, [&] {
			if (taken)
				QThread::msleep(1500);
			else
				QVERIFY(waitFor([&] { return replied.load(); }));
		});
		std::thread caller([&] {
			reply = rig.send(rig.edit("AcquireEdit", a, rig.scene()));
			replied = true;
		});
		QTRY_VERIFY_WITH_TIMEOUT(replied.load(), 20000);
		caller.join();
		QCoreApplication::processEvents();
		QCOMPARE(code(reply), taken ? QStringLiteral("ok") : QStringLiteral("timeout"));
		QCOMPARE(rig.remote->state().leaseSession(), taken ? a : QString());
	}

	// Requests keep coming from several threads while the service shuts down and the dock is
	// destroyed; one callback was looked up by obs-websocket before unregistering.
	void shutdownWithRequestsInFlight()
	{
		auto rig = std::make_unique<RemoteRig>();
		const QString a = rig->open();
		const QJsonObject requests[] = {rig->make("GetState", a), rig->make("Open"), rig->make("KeepAlive", a),
						rig->make("GetDocument", a, {{QStringLiteral("scene"), rig->scene()}})};
		const obs_websocket_request_callback looked = FakeWebsocket::instance().lastCallback();
		std::atomic<bool> shut{false}, stop{false};
		std::atomic<int> sent{0}, wrong{0};
		// Requests go on being answered: at least 40 more from now.
		const auto goOn = [&] {
			const int now = sent.load();
			return QTest::qWaitFor([&] { return sent.load() > now + 40; }, 20000);
		};
		std::vector<std::thread> threads;
		for (int t = 0; t < 4; ++t)
			threads.emplace_back([&, t] {
				for (int i = 0; !stop.load(); ++i) {
					const bool after = shut.load();
					const QByteArray payload = QJsonDocument(requests[(t + i) % 4]).toJson(QJsonDocument::Compact);
					const QJsonObject reply = FakeWebsocket::callWith(looked, payload);
					if (!reply.value(QStringLiteral("ok")).isBool() || (after && code(reply) != QLatin1String("disabled")))
						++wrong;
					++sent;
				}
			});
		QVERIFY(goOn());
		rig->dock->shutdown();
		shut = true;
		QVERIFY(!FakeWebsocket::instance().lastCallback(false).callback);
		QVERIFY(goOn());
		rig.reset();
		QVERIFY(goOn());
		stop = true;
		for (auto &t : threads)
			t.join();
		QCOMPARE(wrong.load(), 0);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestRemoteHandOver)
#include "tst_handover.moc"
