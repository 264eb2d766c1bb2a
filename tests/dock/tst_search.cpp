#include "dock/search_match.h"
#include "json_rows.h"
#include "note_dock.h"

using namespace quillmar;

class SearchTest : public QObject {
	Q_OBJECT

	// The counter, and whether the editor paints its selection as a hit.
	static QString counter(const test::NoteDock &note)
	{
		auto *status = note.widget<QLabel>("searchStatus");
		return status->isHidden() ? QStringLiteral("hidden")
					  : status->text() + (note.editor()->searchMatch() ? QStringLiteral(" hit") : QString());
	}

	// The recount waits for a pause in typing; the test ends the pause at once.
	static void fireSearchTimer(const test::NoteDock &note)
	{
		auto *timer = note.widget<QTimer>("searchTimer");
		QVERIFY(timer->isActive());
		QMetaObject::invokeMethod(timer, "timeout");
	}

private Q_SLOTS:
	void matching_data() { test::jsonRows("dock/search_matches"); }
	void matching()
	{
		QFETCH(QJsonObject, row);
		QTextDocument document;
		document.setPlainText(row["note"].toString());
		QJsonArray starts;
		for (const TextMatch &match : findTextMatches(document, row["needle"].toString()))
			starts << match.start;
		QCOMPARE(starts, row["hits"].toArray());
	}

	void searchField()
	{
		test::NoteDock note(QStringLiteral("<p>one two</p><p>ONE two one</p>"));
		auto *field = note.widget<QLineEdit>("searchText");
		note.select(4, 7); // "two" becomes the search text
		note.action("findText")->trigger();
		QCOMPARE(field->text(), QStringLiteral("two"));

		field->clear();
		QTest::keyClicks(field, QStringLiteral("one"));
		QCOMPARE(counter(note), QStringLiteral("hidden"));
		fireSearchTimer(note); // the first hit in the note, wherever the cursor was
		QCOMPARE(note.editor()->textCursor().selectionStart(), 0);
		QCOMPARE(counter(note), QStringLiteral("1/3 hit"));

		const auto click = [&](const char *button) { QTest::mouseClick(note.widget<QToolButton>(button), Qt::LeftButton); };
		click("findNext");
		click("findNext");
		QCOMPARE(counter(note), QStringLiteral("3/3 hit"));
		click("findNext"); // wraps to the first
		click("findPrevious");
		QCOMPARE(counter(note), QStringLiteral("3/3 hit"));

		// An edit recounts without moving the selection.
		note.select(0);
		QTest::keyClicks(note.editor(), QStringLiteral("one "));
		QCOMPARE(counter(note), QStringLiteral("hidden"));
		fireSearchTimer(note);
		QCOMPARE(counter(note), QStringLiteral("0/4"));
		QCOMPARE(note.editor()->textCursor().position(), 4);

		field->setText(QStringLiteral("zzz"));
		QTest::keyClick(field, Qt::Key_Return);
		QCOMPARE(counter(note), QStringLiteral("0/0"));
		QCOMPARE(note.editor()->textCursor().position(), 4);

		QTest::mouseClick(note.widget<QToolButton>("clearSearch"), Qt::LeftButton);
		QVERIFY(field->text().isEmpty());
		QCOMPARE(counter(note), QStringLiteral("hidden"));
	}

	void goTo_data() { test::jsonRows("dock/go_to"); }
	void goTo()
	{
		QFETCH(QJsonObject, row);
		const int percent = row["percent"].toInt(-1), paragraph = row["paragraph"].toInt(-1);
		const bool accepted = percent >= 0 || paragraph >= 0;
		test::NoteDock note(test::numberedLines(200), true);
		QScrollBar *bar = note.bar();
		bar->setValue(bar->maximum() / 2);

		QTest::mouseClick(note.widget<QLabel>("scrollPercent"), Qt::LeftButton);
		auto *field = note.widget<QLineEdit>("goToInput");
		QCOMPARE(field->text(), QStringLiteral("50%"));
		field->setText(row["input"].toString());
		QTest::keyClick(field, Qt::Key_Return);

		QCOMPARE(field->isVisible(), !accepted);
		QCOMPARE(field->property("invalid").toBool(), !accepted);
		if (!accepted) {
			QCOMPARE(bar->value(), bar->maximum() / 2);
			QTest::keyClick(field, Qt::Key_Escape);
			QVERIFY(!field->isVisible());
		} else if (percent >= 0) {
			QCOMPARE(bar->value(), bar->maximum() * percent / 100);
		} else {
			QCOMPARE(note.editor()->textCursor().blockNumber() + 1, paragraph);
			QVERIFY(note.editor()->cursorRect().intersects(note.editor()->viewport()->rect()));
		}
	}
};

QUILLMAR_OBS_TEST_MAIN(SearchTest)
#include "tst_search.moc"
