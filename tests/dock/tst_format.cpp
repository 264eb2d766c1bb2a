#include "dock/dock_theme.h"
#include "dock/marks.h"
#include "dock/search_match.h"
#include "note_dock.h"
#include "test_util.h"

using namespace quillmar;

namespace {
const QString Mark = QString(QChar(kMarkGlyph));
} // namespace

// Formatting, marks and search: what a person does to the text of a note.
class FormatTest : public QObject {
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
	void markSpan_data() { test::jsonTable("dock/mark_spans.json"); }
	void markSpan()
	{
		QFETCH(QJsonObject, row);
		const std::optional<MarkSpan> span = markSpanAt(row["paragraph"].toString(), row["column"].toInt());
		QCOMPARE(span ? span->start : -1, row["start"].toInt());
		QCOMPARE(span ? span->end : -1, row["end"].toInt());
	}

	// Bold over mixed weights and clearing the formats of a paragraph are one undo step each.
	void boldAndClearFormat()
	{
		test::NoteDock note(QStringLiteral("<b>ab</b>cd<ul><li><b>one</b></li><li>two</li></ul>"
						   "<p align=\"center\" style=\"margin-left: 40px; -qt-block-indent: 2\">"
						   "<span style=\"color: #ff0000\">three</span></p>"));
		note.select(0, 4);
		QAction *bold = note.action("formatBold");
		QVERIFY(!bold->isChecked());
		bold->trigger();
		for (int i = 0; i < 4; ++i)
			QVERIFY(note.formatAt(i).fontWeight() == 700 && bold->isChecked());
		note.editor()->undo();
		QVERIFY(note.formatAt(1).fontWeight() == 700 && note.formatAt(2).fontWeight() != 700);

		// Without a selection, every paragraph loses its formats.
		note.select(7);
		note.action("clearFormat")->trigger();
		QTextDocument *document = note.editor()->document();
		QTextBlockFormat plain;
		plain.setLineHeight(140, QTextBlockFormat::ProportionalHeight);
		for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
			QVERIFY(!block.textList() && block.blockFormat() == plain && block.charFormat().properties().isEmpty());
		QVERIFY(note.formatAt(5).properties().isEmpty() && note.formatAt(13).properties().isEmpty());
		note.editor()->undo();
		QVERIFY(document->findBlockByNumber(1).textList() && note.formatAt(5).fontWeight() == 700);
		QCOMPARE(document->lastBlock().blockFormat().indent(), 2);
	}

	void listsAndIndents()
	{
		test::NoteDock note(QStringLiteral("<p>one</p><p>two</p>"));
		QAction *increase = note.action("increaseIndent"), *decrease = note.action("decreaseIndent");
		decrease->trigger();
		QCOMPARE(note.editor()->textCursor().blockFormat().indent(), 0);
		for (int i = 0; i < 14; ++i)
			increase->trigger();
		QCOMPARE(note.editor()->textCursor().blockFormat().indent(), 12);

		note.select(0, 5); // both paragraphs
		note.widget<QMenu>("listStyleMenu")->findChild<QAction *>(QStringLiteral("listDecimal"))->trigger();
		const auto list = [&] { return note.editor()->textCursor().currentList(); };
		QVERIFY(list() && list()->count() == 2 && list()->format().style() == QTextListFormat::ListDecimal);
		for (int i = 0; i < 14; ++i)
			increase->trigger();
		QCOMPARE(list()->format().indent(), 12);
		for (int i = 0; i < 12; ++i)
			decrease->trigger(); // the last step takes a level-1 item out of the list
		QVERIFY(!list());
	}

	void marksAndTheirColours()
	{
		test::NoteDock note(QStringLiteral("word"));
		const QColor orange = markColor(theme::isDark(note.dock->palette().color(QPalette::Window)));
		note.select(2);
		note.action("insertMark")->trigger();
		QVERIFY(note.plain() == QStringLiteral("wo") + Mark + QStringLiteral("[]rd") &&
			note.editor()->textCursor().position() == 4); // between the brackets
		QTest::keyClicks(note.editor(), QStringLiteral("x"));
		note.select(6); // after the closing bracket: the colour of what follows
		QTest::keyClicks(note.editor(), QStringLiteral("y"));
		QVERIFY(note.formatAt(4).foreground().color() == orange && !note.formatAt(6).hasProperty(QTextFormat::ForegroundBrush));
		note.select(6);
		QTest::keyClick(note.editor(), Qt::Key_Backspace); // the whole mark goes
		QCOMPARE(note.plain(), QStringLiteral("woyrd"));
		note.editor()->undo();
		QCOMPARE(note.plain(), QStringLiteral("wo") + Mark + QStringLiteral("[x]yrd"));

		// The context menu offers to delete a mark only on one, and takes it whole in one step.
		const auto offered = [&](const QPoint &at) {
			bool found = false;
			note.dialogs->onMenu = [&](QMenu *menu) {
				found = menu->findChild<QAction *>(QStringLiteral("ctxDeleteMark"));
			};
			note.dock->showContextMenu(at);
			return found;
		};
		note.select(3);
		const QPoint mark = note.editor()->cursorRect().center() + QPoint(2, 0);
		QVERIFY(!offered(QPoint(2, 2)) && offered(mark));
		note.triggerMenuEntry(QStringLiteral("ctxDeleteMark"), mark);
		QCOMPARE(note.plain(), QStringLiteral("woyrd"));
		note.editor()->undo();
		QCOMPARE(note.plain(), QStringLiteral("wo") + Mark + QStringLiteral("[x]yrd"));
	}

	void nextMarkWrapsAndTypingEndsIt()
	{
		test::NoteDock note(QStringLiteral("a") + Mark + QStringLiteral("[one] b c") + Mark + QStringLiteral(" d"));
		auto *field = note.widget<QLineEdit>("searchText");
		QAction *next = note.action("nextMark");
		for (int expected : {1, 11, 1}) {
			next->trigger();
			QVERIFY(note.editor()->textCursor().selectionStart() == expected && field->text() == Mark);
		}
		note.select(0);
		QTest::keyClicks(note.editor(), QStringLiteral("z"));
		QVERIFY(field->text().isEmpty());
	}

	void continuousPainterUntilEscape()
	{
		test::NoteDock note(QStringLiteral("<b>src</b> one two three"));
		QAction *painter = note.action("formatPainter");
		auto *button = note.widget<QToolBar>("formatToolbar")->widgetForAction(painter);
		note.select(1);
		QTest::mouseDClick(button, Qt::LeftButton);
		QVERIFY(painter->isChecked());
		const auto paint = [&](int from, int to) {
			note.select(from, to);
			QTest::keyRelease(note.editor(), Qt::Key_Shift);
			QCoreApplication::processEvents(); // the painter applies on the next turn
		};
		paint(4, 7);
		paint(8, 11);
		QVERIFY(painter->isChecked());
		QTest::keyClick(note.editor(), Qt::Key_Escape);
		QVERIFY(!painter->isChecked());
		paint(12, 17);
		QVERIFY(note.formatAt(5).fontWeight() == 700 && note.formatAt(9).fontWeight() == 700 && note.formatAt(13).fontWeight() != 700);

		// A single click paints once.
		note.select(1);
		painter->trigger();
		paint(12, 17);
		QVERIFY(note.formatAt(13).fontWeight() == 700 && !painter->isChecked());
	}

	// A paragraph of "paragraph" characters, else a note "room" characters short of its limit.
	void insertionsAtTheLimitsAreRefused_data() { test::jsonTable("dock/limit_insertions.json"); }
	void insertionsAtTheLimitsAreRefused()
	{
		QFETCH(QJsonObject, row);
		const bool mark = row["mark"].toBool();
		const int paragraph = row["paragraph"].toInt();
		const QString content =
			paragraph ? QString(paragraph, QLatin1Char('p')) : test::noteOfLength(kNoteCharLimit - row["room"].toInt());
		test::NoteDock note;
		const auto insert = [&] { mark ? note.dock->insertMark() : note.dock->insertTime(); };
		note.editor()->setPlainText(content);
		note.editor()->moveCursor(QTextCursor::End);
		note.dock->setStatus(QString());
		insert();
		QVERIFY(note.status() == text("TextLimit") && note.plain() == content);

		// With room to spare, the same insertion goes in whole.
		note.editor()->setPlainText(QStringLiteral("ok "));
		note.editor()->moveCursor(QTextCursor::End);
		insert();
		const QRegularExpression whole(mark ? QStringLiteral("^ok \u25c6\\[\\]$")
						    : QStringLiteral("^ok \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d $"));
		QVERIFY2(whole.match(note.plain()).hasMatch(), qPrintable(note.plain()));
	}

	void matching_data() { test::jsonTable("dock/search_matches.json"); }
	void matching()
	{
		QFETCH(QJsonObject, row);
		QTextDocument document(row["note"].toString());
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
		QVERIFY(note.editor()->textCursor().selectionStart() == 0 && counter(note) == QStringLiteral("1/3 hit"));

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
		QVERIFY(counter(note) == QStringLiteral("0/4") && note.editor()->textCursor().position() == 4);

		field->setText(QStringLiteral("zzz"));
		QTest::keyClick(field, Qt::Key_Return);
		QVERIFY(counter(note) == QStringLiteral("0/0") && note.editor()->textCursor().position() == 4);

		QTest::mouseClick(note.widget<QToolButton>("clearSearch"), Qt::LeftButton);
		QVERIFY(field->text().isEmpty() && counter(note) == QStringLiteral("hidden"));
	}

	// The go-to field's text among 200 paragraphs.
	void goTo_data() { test::jsonTable("dock/go_to.json"); }
	void goTo()
	{
		QFETCH(QJsonObject, row);
		const std::optional<GoToTarget> target = parseGoTo(row["input"].toString(), 200);
		QCOMPARE(target && target->percent ? target->value : -1, row["percent"].toInt(-1));
		QCOMPARE(target && !target->percent ? target->value : -1, row["paragraph"].toInt(-1));
	}

	// Clicking the percentage opens the field on it; what it refuses stays open, marked, until Escape.
	void goToField()
	{
		test::NoteDock note(test::numberedLines(200), true);
		QScrollBar *bar = note.bar();
		bar->setValue(bar->maximum() / 2);
		QTest::mouseClick(note.widget<QLabel>("scrollPercent"), Qt::LeftButton);
		auto *field = note.widget<QLineEdit>("goToInput");
		QCOMPARE(field->text(), QStringLiteral("50%"));
		const auto go = [&](const char *input) {
			QTest::mouseClick(note.widget<QLabel>("scrollPercent"), Qt::LeftButton);
			field->setText(QLatin1String(input));
			QTest::keyClick(field, Qt::Key_Return);
			return field->isVisible() || field->property("invalid").toBool();
		};
		QVERIFY(go("201") && field->isVisible() && field->property("invalid").toBool());
		QCOMPARE(bar->value(), bar->maximum() / 2);
		QTest::keyClick(field, Qt::Key_Escape);
		QVERIFY(!field->isVisible() && !go("100%") && bar->value() == bar->maximum());
		QVERIFY(!go(" 12 ") && note.editor()->textCursor().blockNumber() == 11);
		QVERIFY(note.editor()->cursorRect().intersects(note.editor()->viewport()->rect()));
	}
};

QUILLMAR_OBS_TEST_MAIN(FormatTest)
#include "tst_format.moc"
