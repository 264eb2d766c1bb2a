// The remote service in-process, with obs-websocket played by the tests' stand-in:
// 1. GetDocument from an obs-websocket thread (parse, hand-over, dispatch, reply) for a small
//    note and for one at the limits, against the hand-over alone (a request refused at once).
// 2. The "Changed" reload storm: four viewers reload a 200 000-character note on every event
//    while the dock's user types five characters a second; the user-interface thread's longest
//    stall is the widest gap between ticks of a 5 ms timer.
#include "../tests/remote/remote_fixture.h"
#include "bench_stats.h"
#include "editor/editor.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTextCursor>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace quillmar;
using namespace quillmar::test;

namespace {

// Round trips from a worker thread while the user-interface thread runs its loop.
double roundTripMs(const QJsonObject &request, int repetitions, const char *expected)
{
	std::vector<double> times;
	std::atomic<bool> finished{false};
	std::thread caller([&] {
		for (int i = 0; i < repetitions; ++i) {
			QElapsedTimer timer;
			timer.start();
			const QJsonObject reply = FakeWebsocket::instance().call(request);
			times.push_back(double(timer.nsecsElapsed()) / 1e6);
			if (code(reply) != QLatin1String(expected))
				qFatal("unexpected reply %s", qPrintable(code(reply)));
		}
		finished = true;
	});
	while (!finished)
		QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
	caller.join();
	return bench::median(times);
}

// Paragraphs of 99 characters in 9 runs, bold and plain alternating; 2000 of them reach the
// character limit (paragraph breaks count as characters).
QString noteOf(int paragraphs)
{
	QString paragraph = QStringLiteral("<p>");
	for (int r = 0; r < 9; ++r)
		paragraph += r % 2 ? QStringLiteral("<b>bold words</b> ") : QStringLiteral("plain words");
	paragraph = paragraph.trimmed() + QStringLiteral("</p>");
	QString html = QStringLiteral("<html><body>");
	for (int p = 0; p < paragraphs; ++p)
		html += paragraph;
	return html + QStringLiteral("</body></html>");
}

class Bench : public QObject {
	Q_OBJECT
private Q_SLOTS:
	void run()
	{
		RemoteRig rig;
		const QString session = rig.open();
		const QJsonObject get = rig.make("GetDocument", session, {{QStringLiteral("scene"), rig.scene(1)}});
		QJsonObject refused = get;
		refused[QStringLiteral("access")] = QStringLiteral("wrong");

		rig.dock->applyRemoteNote(rig.scenes[1]->source(), QStringLiteral("<p>A short note of a few words.</p>"));
		const double floor = roundTripMs(refused, 200, "access");
		const double small = roundTripMs(get, 200, "ok");
		rig.dock->applyRemoteNote(rig.scenes[1]->source(), noteOf(2000));
		const double large = roundTripMs(get, 7, "ok");
		// A viewer of another note in between: the conversion is paid again.
		const QJsonObject other = rig.make("GetDocument", session, {{QStringLiteral("scene"), rig.scene(0)}});
		std::vector<double> cold;
		for (int i = 0; i < 5; ++i) {
			roundTripMs(other, 1, "ok");
			cold.push_back(roundTripMs(get, 1, "ok"));
		}
		std::printf("GetDocument round trip (median): refused at once %.3f ms, small note %.3f ms (%.2fx), "
			    "note at the limits %.1f ms repeated, %.1f ms after another note\n",
			    floor, small, small / floor, large, bench::median(cold));
		// Room for the typing below.
		rig.dock->applyRemoteNote(rig.scenes[1]->source(), noteOf(1999));

		// The storm: the shown note is the large one.
		fake::setProgramScene(rig.scenes[1]->source());
		QCoreApplication::processEvents();
		std::atomic<bool> stop{false};
		std::atomic<int> reloads{0};
		std::atomic<int> generation{0};
		std::atomic<int> finished{0};
		FakeWebsocket::instance().takeEvents();
		// Stands in for obs-websocket delivering each event to every viewer.
		std::thread events([&] {
			while (!stop) {
				for (const auto &event : FakeWebsocket::instance().takeEvents())
					if (event.type == QLatin1String("Changed"))
						++generation;
				std::this_thread::sleep_for(std::chrono::milliseconds(5));
			}
			++finished;
		});
		std::vector<std::thread> viewers;
		for (int v = 0; v < 4; ++v) {
			const QString id = rig.open(QStringLiteral("viewer %1").arg(v));
			viewers.emplace_back([&, id] {
				const QJsonObject reload = rig.make("GetDocument", id, {{QStringLiteral("scene"), rig.scene(1)}});
				int seen = 0;
				while (!stop) {
					if (generation.load() == seen) {
						std::this_thread::sleep_for(std::chrono::milliseconds(5));
						continue;
					}
					seen = generation.load();
					FakeWebsocket::instance().call(reload);
					++reloads;
				}
				++finished;
			});
		}
		QElapsedTimer clock;
		clock.start();
		qint64 last = 0;
		qint64 longest = 0;
		QTimer tick;
		tick.setTimerType(Qt::PreciseTimer);
		tick.setInterval(5);
		QObject::connect(&tick, &QTimer::timeout, [&] {
			const qint64 t = clock.elapsed();
			longest = std::max(longest, t - last);
			last = t;
		});
		QTimer typist;
		typist.setInterval(200);
		QObject::connect(&typist, &QTimer::timeout, [&] {
			QTextCursor cursor(rig.dock->editor()->document());
			cursor.movePosition(QTextCursor::End);
			rig.dock->editor()->setTextCursor(cursor);
			QTest::keyClick(rig.dock->editor(), Qt::Key_A);
		});
		tick.start();
		typist.start();
		QEventLoop loop;
		QTimer::singleShot(8000, &loop, &QEventLoop::quit);
		loop.exec();
		stop = true;
		while (finished.load() < 5)
			QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
		events.join();
		for (auto &t : viewers)
			t.join();
		std::printf("Reload storm over 8 s: %d reloads of a 200000-character note by 4 viewers; "
			    "longest stall of the user-interface thread %lld ms\n",
			    reloads.load(), static_cast<long long>(longest - 5));
	}
};

} // namespace

QUILLMAR_OBS_TEST_MAIN(Bench)
#include "bench_remote.moc"
