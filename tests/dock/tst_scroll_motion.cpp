#include "dock/reading_band.h"
#include "dock/scroll_motion.h"

#include <QTest>

#include <cmath>

using namespace quillmar;

namespace {

using Ticks = QList<int>;

struct FakeClock {
	qint64 now = 0;
	MonotonicClock clock()
	{
		return [this] { return now; };
	}
};

} // namespace

class ScrollMotionTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void positionFollowsMeasuredTime_data()
	{
		QTest::addColumn<double>("speed");
		QTest::addColumn<Ticks>("ticks"); // milliseconds between timeouts
		QTest::newRow("1.0 steady") << 1.0 << Ticks(63, 16);
		QTest::newRow("1.0 late") << 1.0 << Ticks{16, 90, 16, 250, 33, 16, 400, 179};
		QTest::newRow("1.0 skipped") << 1.0 << Ticks{16, 16, 1000, 16, 2000};
		QTest::newRow("2.5 bursty") << 2.5 << Ticks{0, 0, 1, 48, 0, 0, 2, 16, 16, 700, 0, 1};
		QTest::newRow("2.5 steady") << 2.5 << Ticks(125, 16);
	}
	void positionFollowsMeasuredTime()
	{
		QFETCH(double, speed);
		QFETCH(Ticks, ticks);
		FakeClock time;
		ScrollMotion motion(time.clock());
		motion.start(7);
		int value = 7;
		for (int dt : ticks) {
			time.now += dt;
			value = motion.tick(value, 100000, false, speed).value;
			// Fractions add up, and every tick shows the pixel the elapsed time has reached.
			QVERIFY(qAbs(motion.position() - (7 + speed * 10.0 * double(time.now) / 1000.0)) < 1e-6);
			QCOMPARE(value, int(std::floor(motion.position())));
		}
	}

	void heldTimeIsNotMadeUp()
	{
		FakeClock time;
		ScrollMotion motion(time.clock());
		motion.start(0);
		time.now = 500;
		QCOMPARE(motion.tick(0, 1000, false, 1.0).value, 5);
		time.now = 900; // the slider is held
		QCOMPARE(motion.tick(5, 1000, true, 1.0).value, 5);
		time.now = 1000; // the reader dropped the text at 200
		QCOMPARE(motion.tick(200, 1000, false, 1.0).value, 200);
		time.now = 1999;
		QCOMPARE(motion.tick(200, 1000, false, 1.0).value, 200);
		time.now = 3000; // 1000 ms after the last move, only the time since counts
		QCOMPARE(motion.tick(200, 1000, false, 1.0).value, 210);
		motion.holdOff(); // a press on the slider
		time.now = 3999;
		QCOMPARE(motion.tick(210, 1000, false, 1.0).value, 210);
		time.now = 4100;
		QCOMPARE(motion.tick(210, 1000, false, 5.0).value, 215);
		time.now = 4000; // a clock going backwards never scrolls backwards
		QCOMPARE(motion.tick(215, 1000, false, 5.0).value, 215);
	}

	void endIsReachedExactlyAtTheMaximum()
	{
		FakeClock time;
		ScrollMotion motion(time.clock());
		motion.start(95);
		time.now = 499;
		ScrollMotion::Step step = motion.tick(95, 100, false, 1.0);
		QCOMPARE(step.value, 99);
		QVERIFY(!step.reachedEnd);
		time.now = 60000; // a very late tick clamps to the maximum
		step = motion.tick(99, 100, false, 1.0);
		QCOMPARE(step.value, 100);
		QVERIFY(step.reachedEnd);
	}

	void speedIsClampedAndRounded_data()
	{
		QTest::addColumn<double>("in");
		QTest::addColumn<double>("out");
		QTest::newRow("above") << 7.0 << 5.0;
		QTest::newRow("below") << 0.04 << 1.0;
		QTest::newRow("NaN") << std::nan("") << 1.0;
		QTest::newRow("infinite") << HUGE_VAL << 1.0;
		QTest::newRow("-infinite") << -HUGE_VAL << 1.0;
		QTest::newRow("half up") << 1.25 << 1.3;
		QTest::newRow("faster at 5.0") << 5.0 + 0.1 << 5.0;
		QTest::newRow("slower at 1.0") << 1.0 - 0.1 << 1.0;
		QTest::newRow("faster from 1.0") << 1.0 + 0.1 << 1.1;
		QTest::newRow("step sum") << 4.9 + 0.1 << 5.0;
	}
	void speedIsClampedAndRounded()
	{
		QFETCH(double, in);
		QFETCH(double, out);
		QCOMPARE(clampScrollSpeed(in), out);
	}

	void countdownReads321ThenStarts()
	{
		FakeClock time;
		ScrollMotion motion(time.clock());
		time.now = 5000;
		motion.startCountdown();
		const QList<std::pair<int, int>> readings = {{0, 3}, {999, 3}, {1000, 2}, {2999, 1}, {3000, 0}, {9000, 0}};
		for (const auto &[elapsed, remaining] : readings) {
			time.now = 5000 + elapsed;
			QCOMPARE(motion.countdownRemaining(), remaining);
		}
	}

	void bandStaysInsideTheViewport()
	{
		QCOMPARE(readingBandGeometry(QSize(300, 200), 16), QRect(0, 64, 300, 24));
		QCOMPARE(readingBandGeometry(QSize(300, 200), 40), QRect(0, 52, 300, 48));
		for (int height = 1; height <= 240; height += 7) {
			for (int line = 0; line <= 400; line += 13) {
				const QRect band = readingBandGeometry(QSize(120, height), line);
				QVERIFY(band.top() >= 0 && band.bottom() < height);
				QCOMPARE(band.height(), qMin(qMax(line + 8, 24), height));
				if (band.height() < height / 2)
					QVERIFY(qAbs(band.center().y() - readingLineY(height)) <= 1);
			}
		}
	}
};

QTEST_APPLESS_MAIN(ScrollMotionTest)
#include "tst_scroll_motion.moc"
