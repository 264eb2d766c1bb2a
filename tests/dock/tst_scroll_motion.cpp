// The teleprompter's arithmetic, without a dock: motion, countdown, reading band and time left.
#include "dock/reading_band.h"
#include "dock/scroll_motion.h"
#include "dock/time_left.h"

#include "test_util.h"

#include <QTextCursor>
#include <QTextDocument>

#include <cmath>
#include <limits>

using namespace quillmar;

class ScrollMotionTest : public QObject {
	Q_OBJECT

	qint64 m_now = 0;
	MonotonicClock clock()
	{
		m_now = 0;
		return [this] { return m_now; };
	}

private Q_SLOTS:
	void positionFollowsMeasuredTime_data() { test::jsonTable("dock/motion_ticks.json"); }
	void positionFollowsMeasuredTime()
	{
		QFETCH(QJsonObject, row);
		const double speed = row["speed"].toDouble();
		ScrollMotion motion(clock());
		motion.start(7);
		int value = 7;
		for (const QJsonValue dt : row["ticks"].toArray()) {
			m_now += dt.toInt();
			value = motion.tick(value, 100000, false, speed).value;
			// Fractions add up, and every tick shows the pixel the elapsed time has reached.
			QVERIFY(qAbs(motion.position() - (7 + speed * 10.0 * double(m_now) / 1000.0)) < 1e-6);
			QCOMPARE(value, int(std::floor(motion.position())));
		}
	}

	// Held time is not made up, time going back moves nothing, and the end is exact.
	void heldAndLateTicks_data() { test::jsonTable("dock/scroll_steps.json"); }
	void heldAndLateTicks()
	{
		QFETCH(QJsonObject, row);
		ScrollMotion motion(clock());
		motion.start(0);
		for (const QJsonValue step : row["rows"].toArray()) {
			const QJsonArray s = step.toArray(); // time, value, held, speed, shown
			m_now = s[0].toInteger();
			const ScrollMotion::Step next = motion.tick(s[1].toInt(), 500, s[2].toInt() != 0, s[3].toDouble());
			QVERIFY(next.value == s[4].toInt() && next.reachedEnd == (s[4].toInt() == 500));
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
	void timeLeft_data() { test::jsonTable("prompter/time_left.json"); }
	void timeLeft()
	{
		QFETCH(QJsonObject, row);
		const double remaining = row["remaining"].toDouble(std::numeric_limits<double>::quiet_NaN());
		QCOMPARE(formatTimeLeft(secondsLeft(remaining, row["speed"].toDouble())), row["shown"].toString());
	}

	void wordsAfter_data() { test::jsonTable("dock/words_after.json"); }
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
