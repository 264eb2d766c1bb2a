#include "dock/search_match.h"
#include "note_dock.h"

using namespace quillmar;

class SearchTest : public QObject {
	Q_OBJECT

	static QList<int> starts(const std::vector<TextMatch> &matches)
	{
		QList<int> result;
		for (const TextMatch &match : matches)
			result << match.start;
		return result;
	}

	// The counter, and whether the editor paints its selection as a hit.
	static QString counter(const test::NoteDock &note)
	{
		auto *status = note.widget<QLabel>("searchStatus");
		return status->isHidden() ? QStringLiteral("hidden")
					  : status->text() + (note.editor()->searchMatch() ? QStringLiteral(" hit") : QString());
	}

	static void fireSearchTimer(const test::NoteDock &note)
	{
		auto *timer = note.dock->findChild<QTimer *>(QStringLiteral("searchTimer"));
		QVERIFY(timer->isActive());
		QCOMPARE(timer->interval(), 160);
		QMetaObject::invokeMethod(timer, "timeout");
	}

private Q_SLOTS:
	void matching_data()
	{
		QTest::addColumn<QString>("note");
		QTest::addColumn<QString>("needle");
		QTest::addColumn<QList<int>>("hits");
		QTest::newRow("no-break space matches a space") << QStringLiteral("a\u00a0b a b") << "a b" << QList<int>{0, 4};
		QTest::newRow("no-break space in the search") << QStringLiteral("a b") << QStringLiteral("a\u00a0b")
							       << QList<int>{0};
		QTest::newRow("case-insensitive") << "Word word WORD" << "wORd" << QList<int>{0, 5, 10};
		QTest::newRow("hits do not overlap") << "aaaa" << "aa" << QList<int>{0, 2};
		QTest::newRow("second paragraph") << "x\nfoo" << "foo" << QList<int>{2};
		QTest::newRow("never across paragraphs") << "ab\ncd" << "b\ncd" << QList<int>{};
		QTest::newRow("empty search") << "abc" << "" << QList<int>{};
	}
	void matching()
	{
		QFETCH(QString, note);
		QFETCH(QString, needle);
		QTextDocument document;
		document.setPlainText(note);
		QTEST(starts(findTextMatches(document, needle)), "hits");
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
		QVERIFY(text("MatchCount") != QLatin1String("MatchCount"));
		QCOMPARE(field->toolTip(), text("MatchCount").arg(1).arg(3));

		const auto click = [&](const char *button) { QTest::mouseClick(note.widget<QToolButton>(button), Qt::LeftButton); };
		click("findNext");
		click("findNext");
		QCOMPARE(counter(note), QStringLiteral("3/3 hit"));
		click("findNext");
		QCOMPARE(counter(note), QStringLiteral("1/3 hit"));
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
		QCOMPARE(field->toolTip(), text("NoMatch"));
		QCOMPARE(note.editor()->textCursor().position(), 4);

		QTest::mouseClick(note.widget<QToolButton>("clearSearch"), Qt::LeftButton);
		QVERIFY(field->text().isEmpty());
		QCOMPARE(counter(note), QStringLiteral("hidden"));
	}

	void goTo_data()
	{
		QTest::addColumn<QString>("input");
		QTest::addColumn<bool>("accepted");
		QTest::addColumn<int>("percentOfScroll"); // -1: a paragraph
		QTest::addColumn<int>("paragraph");
		QTest::newRow("0%") << "0%" << true << 0 << -1;
		QTest::newRow("100%") << "100%" << true << 100 << -1;
		QTest::newRow("101%") << "101%" << false << -1 << -1;
		QTest::newRow("paragraph 0") << "0" << false << -1 << -1;
		QTest::newRow("blanks around 12") << " 12 " << true << -1 << 12;
		QTest::newRow("past the end") << "201" << false << -1 << -1;
	}
	void goTo()
	{
		QFETCH(QString, input);
		QFETCH(bool, accepted);
		QFETCH(int, percentOfScroll);
		QFETCH(int, paragraph);
		test::NoteDock note(test::numberedLines(200), true);
		QScrollBar *bar = note.bar();
		QVERIFY(bar->maximum() > 0);
		bar->setValue(bar->maximum() / 2);

		QTest::mouseClick(note.widget<QLabel>("scrollPercent"), Qt::LeftButton);
		auto *field = note.widget<QLineEdit>("goToInput");
		QVERIFY(field && field->isVisible());
		QCOMPARE(field->text(), QStringLiteral("50%"));
		field->setText(input);
		QTest::keyClick(field, Qt::Key_Return);

		QCOMPARE(field->isVisible(), !accepted);
		QCOMPARE(field->property("invalid").toBool(), !accepted);
		if (!accepted) {
			QCOMPARE(field->toolTip(), text("GoToInvalid").arg(200));
			QCOMPARE(bar->value(), bar->maximum() / 2);
			QTest::keyClick(field, Qt::Key_Escape);
			QVERIFY(!field->isVisible());
		} else if (percentOfScroll >= 0) {
			QCOMPARE(bar->value(), bar->maximum() * percentOfScroll / 100);
		} else {
			QCOMPARE(note.editor()->textCursor().blockNumber() + 1, paragraph);
			QVERIFY(note.editor()->cursorRect().intersects(note.editor()->viewport()->rect()));
		}
	}

};

QUILLMAR_OBS_TEST_MAIN(SearchTest)
#include "tst_search.moc"
