#include "dock/time_left.h"
#include "module/text.h"
#include "note_dock.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QTextCursor>

#include <limits>

using namespace quillmar;

class TimeLeftTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Rows shared with the browser app's tests, so both show the same time.
	void arithmetic_data()
	{
		QTest::addColumn<double>("remaining");
		QTest::addColumn<double>("speed");
		QTest::addColumn<QString>("shown");
		QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/prompter/time_left.json"));
		QVERIFY(file.open(QIODevice::ReadOnly));
		const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
		QVERIFY(rows.size() > 5);
		for (const QJsonValue &row : rows) {
			const QJsonValue remaining = row[QStringLiteral("remaining")];
			QTest::newRow(qPrintable(row[QStringLiteral("name")].toString()))
				<< (remaining.isString() ? std::numeric_limits<double>::quiet_NaN() : remaining.toDouble())
				<< row[QStringLiteral("speed")].toDouble() << row[QStringLiteral("shown")].toString();
		}
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
