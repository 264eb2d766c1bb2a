// The teleprompter's arithmetic, without a dock: motion, countdown, reading band and time left.
#include "dock/reading_band.h"
#include "dock/scroll_motion.h"
#include "dock/time_left.h"

#include "json_rows.h"

#include <QTextCursor>
#include <QTextDocument>

#include <cmath>
#include <limits>

using namespace quillmar;

using Ticks = QList<int>;

class ScrollMotionTest : public QObject {
	Q_OBJECT

	qint64 m_now = 0;
	MonotonicClock clock()
	{
		m_now = 0;
		return [this] { return m_now; };
	}

private Q_SLOTS:
	void positionFollowsMeasuredTime_data()
	{
		QTest::addColumn<double>("speed");
		QTest::addColumn<Ticks>("ticks"); // milliseconds between timeouts
		QTest::newRow("1.0 steady") << 1.0 << Ticks(63, 16);
		QTest::newRow("1.0 late and skipped") << 1.0 << Ticks{16, 90, 16, 250, 33, 1000, 400, 2000};
		QTest::newRow("2.5 bursty") << 2.5 << Ticks{0, 0, 1, 48, 0, 0, 2, 16, 16, 700, 0, 1};
	}
	void positionFollowsMeasuredTime()
	{
		QFETCH(double, speed);
		QFETCH(Ticks, ticks);
		ScrollMotion motion(clock());
		motion.start(7);
		int value = 7;
		for (int dt : ticks) {
			m_now += dt;
			value = motion.tick(value, 100000, false, speed).value;
			// Fractions add up, and every tick shows the pixel the elapsed time has reached.
			QVERIFY(qAbs(motion.position() - (7 + speed * 10.0 * double(m_now) / 1000.0)) < 1e-6);
			QCOMPARE(value, int(std::floor(motion.position())));
		}
	}

	void heldTimeIsNotMadeUpAndTheEndIsExact()
	{
		ScrollMotion motion(clock());
		motion.start(0);
		// {time, scroll bar value, slider held, speed, value shown after the tick}
		const QList<std::array<double, 5>> steps = {
			{500, 0, 0, 1, 5},        {900, 5, 1, 1, 5},     // held
			{1000, 200, 0, 1, 200},   {1999, 200, 0, 1, 200}, // dropped at 200: hold-off
			{3000, 200, 0, 1, 210},   {2900, 210, 0, 5, 210}, // time going back moves nothing
			{3400, 210, 0, 5, 235},   {9000, 235, 0, 5, 500}, // a late tick stops at the maximum
		};
		for (const auto &[time, value, held, speed, shown] : steps) {
			m_now = qint64(time);
			const ScrollMotion::Step step = motion.tick(int(value), 500, held != 0, speed);
			QCOMPARE(step.value, int(shown));
			QCOMPARE(step.reachedEnd, shown == 500);
		}
	}

	void speedCountdownAndBandArithmetic()
	{
		const QList<std::pair<double, double>> speeds = {{7, 5}, {0.04, 1}, {std::nan(""), 1}, {-HUGE_VAL, 1},
								 {1.25, 1.3}, {5.0 + 0.1, 5}, {1.0 - 0.1, 1}, {4.9 + 0.1, 5}};
		for (const auto &[in, out] : speeds)
			QCOMPARE(clampScrollSpeed(in), out);

		ScrollMotion motion(clock());
		motion.startCountdown();
		for (const auto &[elapsed, left] : QList<std::pair<int, int>>{{0, 3}, {999, 3}, {1000, 2}, {2999, 1}, {3000, 0}}) {
			m_now = elapsed;
			QCOMPARE(motion.countdownRemaining(), left);
		}

		QCOMPARE(readingBandGeometry(QSize(300, 200), 16), QRect(0, 64, 300, 24));
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

	// Rows shared with the browser app's tests, so both show the same time.
	void timeLeft_data() { test::jsonRows("prompter/time_left"); }
	void timeLeft()
	{
		QFETCH(QJsonObject, row);
		const double remaining = row["remaining"].toDouble(std::numeric_limits<double>::quiet_NaN());
		QCOMPARE(formatTimeLeft(secondsLeft(remaining, row["speed"].toDouble())), row["shown"].toString());
	}

	void wordsAfter_data() { test::jsonRows("dock/words_after"); }
	void wordsAfter()
	{
		QFETCH(QJsonObject, row);
		QTextDocument document;
		document.setPlainText(row["text"].toString());
		QTextCursor cursor(&document);
		cursor.setPosition(row["from"].toInt());
		QCOMPARE(quillmar::wordsAfter(cursor), row["words"].toInt());
	}
};

QTEST_MAIN(ScrollMotionTest)
#include "tst_scroll_motion.moc"
