// Smoothness of the teleprompter at 1.0x: the pixel step of every 16 ms scroll tick, the spread
// of the ticks' spacing, and the CPU the scrolling dock takes in this process against idle.
// Run: scripts/root.sh run scripts/xvfb.sh build/bench/bench_teleprompter
#include "bench_stats.h"
#include "dock/dock.h"
#include "editor/editor.h"
#include "module/hotkeys.h"
#include "obs_test_env.h"

#include <QAction>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <sys/resource.h>

using namespace quillmar;

namespace {

double cpuSeconds()
{
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
	       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Samples the scroll bar each time the dock's 16 ms scroll timer is about to fire.
class TickProbe : public QObject {
public:
	QScrollBar *bar = nullptr;
	std::vector<int> values;
	std::vector<double> times;
	QElapsedTimer clock;

	bool eventFilter(QObject *watched, QEvent *event) override
	{
		auto *timer = qobject_cast<QTimer *>(watched);
		if (event->type() == QEvent::Timer && timer && timer->interval() == 16 && timer->isActive()) {
			values.push_back(bar->value());
			times.push_back(double(clock.nsecsElapsed()) / 1e6);
		}
		return false;
	}
};

} // namespace

class TeleprompterBench : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void smoothnessAndCpu()
	{
		constexpr int Seconds = 10;
		QTemporaryDir dir;
		test::Scene scene("Bench");
		auto *dock = new Dock(dir.filePath(QStringLiteral("settings.ini")));
		dock->resize(700, 500);
		dock->show();
		QString html, error;
		for (int i = 0; i < 1500; ++i)
			html += QStringLiteral("<p>Line %1: a sentence the presenter reads aloud at an even pace.</p>").arg(i);
		QVERIFY(dock->noteStore().saveNote(scene.source(), html, error));
		dock->showSceneNote(scene.source());
		QTest::qWait(500);

		double cpu = cpuSeconds();
		QTest::qWait(Seconds * 1000);
		const double idle = (cpuSeconds() - cpu) / Seconds * 100;

		TickProbe probe;
		probe.bar = dock->editor()->verticalScrollBar();
		probe.clock.start();
		qApp->installEventFilter(&probe);
		dock->runHotkeyAction(HotkeyStart);
		QVERIFY(dock->isScrolling());
		cpu = cpuSeconds();
		QTest::qWait(Seconds * 1000);
		const double scrolling = (cpuSeconds() - cpu) / Seconds * 100;
		qApp->removeEventFilter(&probe);
		dock->runHotkeyAction(HotkeyTop);
		dock->setScrollSpeed(5.0);
		dock->runHotkeyAction(HotkeyStart);
		cpu = cpuSeconds();
		QTest::qWait(Seconds * 1000);
		const double fast = (cpuSeconds() - cpu) / Seconds * 100;
		QVERIFY(dock->isScrolling());
		dock->runHotkeyAction(HotkeyTop);
		dock->findChild<QAction *>(QStringLiteral("readingGuideAction"))->setChecked(false);
		dock->runHotkeyAction(HotkeyStart);
		cpu = cpuSeconds();
		QTest::qWait(Seconds * 1000);
		const double noGuide = (cpuSeconds() - cpu) / Seconds * 100;
		dock->runHotkeyAction(HotkeyPause);

		// The floor: a stock QTextEdit of the same size and note moved 50 px a second.
		QTextEdit stock;
		stock.resize(dock->editor()->size());
		stock.setHtml(html);
		stock.show();
		QTest::qWait(500);
		QTimer mover;
		mover.setTimerType(Qt::PreciseTimer);
		QElapsedTimer moved;
		moved.start();
		connect(&mover, &QTimer::timeout, &stock, [&] { stock.verticalScrollBar()->setValue(int(moved.elapsed() / 20)); });
		mover.start(16);
		cpu = cpuSeconds();
		QTest::qWait(Seconds * 1000);
		const double floor = (cpuSeconds() - cpu) / Seconds * 100;
		mover.stop();

		std::vector<double> steps, gaps;
		for (size_t i = 1; i < probe.values.size(); ++i) {
			steps.push_back(probe.values[i] - probe.values[i - 1]);
			gaps.push_back(probe.times[i] - probe.times[i - 1]);
		}
		QVERIFY(steps.size() > 100);
		double sum = 0, sumSquares = 0;
		int outside = 0;
		for (double s : steps)
			sum += s, sumSquares += s * s;
		const double mean = sum / steps.size();
		for (double s : steps)
			outside += std::abs(s - mean) > 1.0;
		const double spread = std::sqrt(sumSquares / steps.size() - mean * mean);
		std::sort(gaps.begin(), gaps.end());
		const double pixelsPerSecond = (probe.values.back() - probe.values.front()) /
					       ((probe.times.back() - probe.times.front()) / 1000.0);
		std::printf("1.0x over %d s: %zu ticks, %.2f px/s (aim 10), step mean %.3f px, sd %.3f px, "
			    "min %.0f, max %.0f, %d steps more than 1 px from the mean\n",
			    Seconds, steps.size(), pixelsPerSecond, mean, spread, *std::min_element(steps.begin(), steps.end()),
			    *std::max_element(steps.begin(), steps.end()), outside);
		std::printf("tick spacing: median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n", bench::median(gaps),
			    gaps[gaps.size() * 99 / 100], gaps.back());
		std::printf("CPU of this process, %% of one core: idle %.2f, scrolling at 1.0x %.2f, at 5.0x %.2f, at 5.0x without the band %.2f; "
			    "a stock QTextEdit moved as fast %.2f\n",
			    idle, scrolling, fast, noGuide, floor);
		std::fflush(stdout);
		delete dock;
	}
};

QUILLMAR_OBS_TEST_MAIN(TeleprompterBench)
#include "bench_teleprompter.moc"
