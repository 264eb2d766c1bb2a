#include "dock/time_left.h"
#include "module/text.h"
#include "note_dock.h"

#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QTextCursor>

#include <limits>

using namespace quillmar;

class TimeLeftTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void arithmetic_data()
	{
		QTest::addColumn<double>("remaining");
		QTest::addColumn<double>("speed");
		QTest::addColumn<QString>("shown");
		QTest::newRow("600 px at 1.0") << 600.0 << 1.0 << QStringLiteral("1:00");
		QTest::newRow("600 px at 5.0") << 600.0 << 5.0 << QStringLiteral("0:12");
		QTest::newRow("600 px at 2.5") << 600.0 << 2.5 << QStringLiteral("0:24");
		QTest::newRow("a fraction reads a second") << 0.4 << 1.0 << QStringLiteral("0:01");
		QTest::newRow("just over a minute") << 601.0 << 1.0 << QStringLiteral("1:01");
		QTest::newRow("fractional position") << 599.5 << 1.0 << QStringLiteral("1:00");
		QTest::newRow("an hour in minutes") << 36150.0 << 1.0 << QStringLiteral("60:15");
		QTest::newRow("at the end") << 0.0 << 1.0 << QStringLiteral("0:00");
		QTest::newRow("past the end") << -30.0 << 1.0 << QStringLiteral("0:00");
		QTest::newRow("zero speed") << 600.0 << 0.0 << QStringLiteral("0:00");
		QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 1.0 << QStringLiteral("0:00");
		QTest::newRow("huge") << 1e300 << 1.0 << QStringLiteral("5999:59");
	}
	void arithmetic()
	{
		QFETCH(double, remaining);
		QFETCH(double, speed);
		QFETCH(QString, shown);
		QCOMPARE(formatTimeLeft(secondsLeft(remaining, speed)), shown);
	}

	void words_data()
	{
		QTest::addColumn<QString>("text");
		QTest::addColumn<int>("from");
		QTest::addColumn<int>("words");
		QTest::newRow("empty") << QString() << 0 << 0;
		QTest::newRow("punctuation only") << QStringLiteral(" -- , ! ") << 0 << 0;
		QTest::newRow("apostrophes") << QStringLiteral("don't stop, it’s 10 o'clock") << 0 << 5;
		QTest::newRow("quote is no apostrophe") << QStringLiteral("'quoted' words") << 0 << 2;
		QTest::newRow("accents and marks") << QStringLiteral("cafe\u0301 na\u00efve") << 0 << 2;
		QTest::newRow("over paragraphs") << QStringLiteral("one two\nthree\n\nfour") << 0 << 4;
		QTest::newRow("from mid-word") << QStringLiteral("one two\nthree") << 5 << 2;
		QTest::newRow("from a later paragraph") << QStringLiteral("one two\nthree four") << 8 << 2;
		QTest::newRow("at the end") << QStringLiteral("one two") << 7 << 0;
	}
	void words()
	{
		QFETCH(QString, text);
		QFETCH(int, from);
		QFETCH(int, words);
		QTextDocument document;
		document.setPlainText(text);
		QTextCursor cursor(&document);
		cursor.setPosition(from);
		QCOMPARE(wordsAfter(cursor), words);
	}

	// What the dock shows: the time follows the position and the speed, and is gone when the
	// note fits.
	void dockShowsTimeLeft()
	{
		QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
		test::NoteDock note(QString(), true);
		auto *label = note.widget<QLabel>("timeLeft");
		note.editor()->setPlainText(QStringLiteral("word\n").repeated(400));
		QScrollBar *bar = note.editor()->verticalScrollBar();
		QTRY_VERIFY(bar->maximum() > 700);
		QVERIFY(label->isVisible());

		bar->setValue(bar->maximum() - 600);
		QCOMPARE(label->text(), QStringLiteral("1:00"));
		note.dock->setScrollSpeed(5.0);
		QCOMPARE(label->text(), QStringLiteral("0:12"));
		bar->setValue(bar->maximum() - 300);
		QCOMPARE(label->text(), QStringLiteral("0:06"));
		note.dock->setScrollSpeed(2.0);
		QCOMPARE(label->text(), QStringLiteral("0:15"));
		// The words still to read lie below the reading line, so fewer than the note holds.
		const QString tip = label->toolTip();
		const int words = QLocale().toInt(tip.section(QLatin1Char(';'), 1).section(QLatin1Char(' '), 1, 1));
		QVERIFY2(words > 0 && words < 400, qPrintable(tip));
		QCOMPARE(tip, text("TimeLeftTip").arg(words));

		note.editor()->setPlainText(QStringLiteral("short"));
		QTRY_COMPARE(bar->maximum(), 0);
		QVERIFY(label->isHidden());
		QLocale::setDefault(QLocale::c());
	}
};

QUILLMAR_OBS_TEST_MAIN(TimeLeftTest)
#include "tst_time_left.moc"
