#include "editor/editor.h"
#include "editor_input.h"
#include "test_util.h"

#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextTable>

#include <functional>

using namespace quillmar;
using namespace quillmar::test;

using Edit = std::function<void(Editor &)>;
Q_DECLARE_METATYPE(Edit)

namespace {

// Tells whether the HTML of a paste was ever read.
class WatchedMimeData : public QMimeData {
public:
	mutable int htmlReads = 0;

protected:
	QVariant retrieveData(const QString &mimeType, QMetaType type) const override
	{
		htmlReads += mimeType == QLatin1String("text/html");
		return QMimeData::retrieveData(mimeType, type);
	}
};

// Keys as a person types them, e.g. "Z Ctrl+End Backspace".
Edit keys(const QString &names)
{
	return [names](Editor &e) {
		for (const QString &name : names.split(u' '))
			QTest::keySequence(&e, QKeySequence(name));
	};
}

void select(Editor &editor, int from, int to)
{
	QTextCursor cursor = editor.textCursor();
	cursor.setPosition(from);
	cursor.setPosition(to, QTextCursor::KeepAnchor);
	editor.setTextCursor(cursor);
}

} // namespace

class EditingTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Editor> m_editor;
	int m_refusals = 0;

	Editor &editor() { return *m_editor; }
	QTextDocument *document() { return m_editor->document(); }
	void load(const QString &plain, int from = 0, int to = -1)
	{
		m_editor->setPlainText(plain);
		select(*m_editor, from, to < 0 ? from : to);
		m_refusals = 0;
	}

private Q_SLOTS:
	void init()
	{
		m_editor = std::make_unique<Editor>();
		m_editor->resize(640, 400);
		m_editor->setLimitHandler([this] { ++m_refusals; });
	}

	// Edits through keys, input methods and the checked calls, on notes at the limits: each
	// refused edit gives one message and changes nothing; shortcuts are not typing.
	void edits_data()
	{
		QTest::addColumn<QString>("note");
		QTest::addColumn<int>("from");
		QTest::addColumn<int>("to");
		QTest::addColumn<Edit>("edit");
		QTest::addColumn<int>("refusals");
		QTest::addColumn<int>("chars"); // -1: not checked
		QTest::addColumn<int>("blocks"); // -1: not checked
		const QString full = noteOfLength(kNoteCharLimit), breaks(kNoteParagraphLimit - 1, u'\n');
		const int N = kNoteCharLimit, P = kNoteParagraphLimit, end = kNoteCharLimit;
		const int fullBlocks = int(full.count(u'\n')) + 1;
		QTest::newRow("AltGr") << full << end << end << keys("Ctrl+Alt+Q") << 1 << N << fullBlocks;
		QTest::newRow("Shift+Return") << full << end << end << keys("Shift+Return") << 1 << N << fullBlocks;
		QTest::newRow("Ctrl+B") << full << end << end << keys("Ctrl+B") << 0 << N << fullBlocks;
		QTest::newRow("typing over a selection, deleting makes room")
			<< full << 100 << 101 << keys("Z Ctrl+End Backspace Ctrl+Home Del Shift+Return Y Y") << 1 << N << fullBlocks;
		// Shift+Return breaks the line, not the paragraph.
		QTest::newRow("breaks at the paragraph limit") << breaks << P - 1 << P - 1 << keys("Return Num+Enter Shift+Return") << 2 << P << P;
		QTest::newRow("checked plain text")
			<< QString(P - 4, u'\n') << 0 << 0 << Edit([](Editor &e) {
				   QVERIFY(e.checkedInsertPlainText(QStringLiteral("a\r\nb\rc")) && !e.checkedInsertPlainText(QStringLiteral("\r\n\r\n")));
				   QVERIFY(!e.checkedDelete()); // nothing selected
			   })
			<< 1 << P + 1 << P - 1;
		// Read-only: keys are taken without a message, and nothing changes through any path.
		QTest::newRow("read-only") << full << 0 << 3 << Edit([](Editor &e) {
			e.setReadOnly(true);
			for (const Qt::Key k : {Qt::Key_X, Qt::Key_Delete})
				QTest::keyClick(&e, k);
			QTest::keyClick(&e, Qt::Key_C, Qt::ControlModifier);
			QCOMPARE(QApplication::clipboard()->text(), e.toPlainText().left(3));
			paste(e, mimeData(QStringLiteral("more")));
			QVERIFY(!e.checkedInsertPlainText(QStringLiteral("x")) && !e.checkedDelete() && !e.checkedCut());
		}) << 0 << N << fullBlocks;
		// Pastes whose plain text or HTML may carry more than it seems; a refused one leaves no
		// undo step. A 2 x 2 table adds 4 cells and the end of its frame; inside a paragraph a
		// pasted list starts a paragraph of its own.
		const auto pasted = [](const QString &plain, const QString &html, bool fits) {
			return Edit([=](Editor &e) {
				paste(e, mimeData(plain, html));
				QCOMPARE(e.document()->isUndoAvailable(), fits);
			});
		};
		const QString table = QStringLiteral("<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>");
		const QString list = QStringLiteral("<ul><li>a</li></ul>");
		QTest::newRow("table one over") << QString(P - 5, u'\n') << 0 << 0 << pasted("a\tb\nc\td", table, false) << 1 << P - 5 << P - 4;
		QTest::newRow("table at the limit") << QString(P - 6, u'\n') << 0 << 0 << pasted("a\tb\nc\td", table, true) << 0 << -1 << P;
		QTest::newRow("list in a paragraph, one over") << noteOfLength(N - 1) << 3 << 3 << pasted("a", list, false) << 1 << N - 1 << -1;
		QTest::newRow("list in a paragraph, at the limit") << noteOfLength(N - 2) << 3 << 3 << pasted("a", list, true) << 0 << -1 << -1;
		QTest::newRow("too many paragraphs by itself")
			<< QString() << 0 << 0 << pasted("x", QStringLiteral("<p>x</p>").repeated(P + 1), false) << 1 << 0 << 1;
		// Composing inserts nothing yet and is not checked; committing is, also where the commit
		// replaces text before the cursor (the widget removes a selection first), as dead keys
		// and correction do.
		const auto commits = [](int from, int to, int replaceFrom, int replaceLength, const QString &fits, const QString &over) {
			return Edit([=](Editor &e) {
				for (const QString &text : {fits, over}) {
					select(e, from, to);
					sendInputMethod(e, QString(), text, replaceFrom, replaceLength);
				}
			});
		};
		QTest::newRow("input method in a full note") << full << 50 << 50 << Edit([](Editor &e) {
			sendInputMethod(e, QStringLiteral("\u306b\u307b"), QString());
			QCOMPARE(e.textCursor().block().layout()->preeditAreaText(), QStringLiteral("\u306b\u307b"));
			QVERIFY(sendInputMethod(e, QString(), QStringLiteral("\u65e5\u672c")));
			QVERIFY(e.textCursor().block().layout()->preeditAreaText().isEmpty());
		}) << 1 << N << fullBlocks;
		QTest::newRow("input method replacing before a selection")
			<< full << 0 << 0 << commits(50, 51, -2, 2, "xyz", "wxyz") << 1 << N << fullBlocks;
		QTest::newRow("input method replacing before the cursor")
			<< full << 0 << 0 << commits(20, 20, -1, 1, "\u00e9", "\u00e9\u00e9") << 1 << N << fullBlocks;
		// Starting to compose over a selection deletes it: here joining 6000 and 4001 characters.
		const Edit compose = [](Editor &e) { sendInputMethod(e, QStringLiteral("\u304b"), QString()); };
		QTest::newRow("composing would join too long") << paragraphs({6000, 4001}) << 6000 << 6001 << compose << 1 << 10002 << 2;
		QTest::newRow("composing joins") << paragraphs({6000, 4001}) << 5999 << 6001 << compose << 0 << -1 << 1;
		// Removing the break between a 6000- and a 4000/4001-character paragraph joins them; a
		// refused cut leaves the clipboard alone.
		const auto cutBreak = [](bool checked, bool fits) {
			return Edit([=](Editor &e) {
				const QString cut = e.textCursor().selection().toPlainText();
				QApplication::clipboard()->setText(QStringLiteral("before"));
				if (checked)
					QCOMPARE(e.checkedCut(), fits);
				else
					QTest::keyClick(&e, Qt::Key_X, Qt::ControlModifier);
				QCOMPARE(QApplication::clipboard()->text(), fits ? cut : QStringLiteral("before"));
			});
		};
		const QString fitting = paragraphs({6000, 4000}), over = paragraphs({6000, 4001});
		QTest::newRow("Delete would join too long") << over << 6000 << 6000 << keys("Del") << 1 << 10002 << 2;
		QTest::newRow("Backspace would join too long") << over << 6001 << 6001 << keys("Backspace") << 1 << 10002 << 2;
		QTest::newRow("Ctrl+X joins") << fitting << 6000 << 6001 << cutBreak(false, true) << 0 << 10000 << 1;
		QTest::newRow("Ctrl+X would join too long") << over << 6000 << 6001 << cutBreak(false, false) << 1 << 10002 << 2;
		QTest::newRow("checked cut joins") << fitting << 6000 << 6001 << cutBreak(true, true) << 0 << 10000 << 1;
		QTest::newRow("checked cut would join too long") << over << 6000 << 6001 << cutBreak(true, false) << 1 << 10002 << 2;
		// The plain alternative alone refuses a paste; its HTML is never read.
		QTest::newRow("plain text refuses before HTML is read") << noteOfLength(N - 5) << 0 << 0 << Edit([](Editor &e) {
			auto *data = new WatchedMimeData;
			data->setText(QStringLiteral("123456"));
			data->setHtml(QStringLiteral("<b>1</b>"));
			paste(e, data);
			QCOMPARE(data->htmlReads, 0);
		}) << 1 << N - 5 << -1;
		// Replacing a selection across table cells only empties the cells: it frees less room than
		// it spans.
		QTest::newRow("paste over table cells") << noteOfLength(N - 20) << 0 << 0 << Edit([](Editor &e) {
			QTextCursor cursor(e.document());
			cursor.movePosition(QTextCursor::End);
			QTextTable *table = cursor.insertTable(2, 2);
			for (int cell = 0; cell < 4; ++cell)
				table->cellAt(cell / 2, cell % 2).firstCursorPosition().insertText(QString(1, QChar(u'a' + cell)));
			QTextCursor(e.document()).insertText(QString(kNoteCharLimit - noteChars(e.document()), u'f'));
			e.document()->clearUndoRedoStacks();
			cursor = table->cellAt(0, 0).firstCursorPosition();
			cursor.setPosition(table->cellAt(1, 1).lastCursorPosition().position(), QTextCursor::KeepAnchor);
			QVERIFY(cursor.hasComplexSelection());
			e.setTextCursor(cursor);
			paste(e, mimeData(QStringLiteral("vwxyz")));
			QVERIFY(!e.document()->isUndoAvailable());
		}) << 1 << N << -1;
	}
	void edits()
	{
		QFETCH(QString, note);
		QFETCH(int, from);
		QFETCH(int, to);
		QFETCH(Edit, edit);
		QFETCH(int, refusals);
		QFETCH(int, chars);
		QFETCH(int, blocks);
		load(note, from, to);
		edit(editor());
		QCOMPARE(m_refusals, refusals);
		if (chars >= 0)
			QCOMPARE(noteChars(document()), chars);
		if (blocks >= 0)
			QCOMPARE(document()->blockCount(), blocks);
		QVERIFY(fitsNoteLimits(*document()));
		QVERIFY(!editor().toPlainText().contains(u'\r'));
	}

	// A paste keeps its formatting and lists.
	void pasteHtml()
	{
		load(QStringLiteral("start "), 6);
		paste(editor(), mimeData(QStringLiteral("bold red\nitem"),
					 QStringLiteral("<b>bold</b> <span style=\"color:#ff0000\">red</span><ul><li>item</li></ul>")));
		QCOMPARE(m_refusals, 0);
		QCOMPARE(document()->find(QStringLiteral("bold")).charFormat().fontWeight(), int(QFont::Bold));
		QCOMPARE(document()->find(QStringLiteral("red")).charFormat().foreground().color(), QColor(Qt::red));
		const QTextCursor item = document()->find(QStringLiteral("item"));
		QVERIFY(item.block().textList());
		QCOMPARE(editor().textCursor().position(), item.position());
	}

	void drops()
	{
		editor().show();
		QVERIFY(QTest::qWaitForWindowExposed(&editor()));
		load(paragraphs({20, 20}));
		QVERIFY(drop(editor(), 5, mimeData(QStringLiteral("DROP"))));
		QCOMPARE(editor().toPlainText().mid(5, 4), QStringLiteral("DROP"));

		// Content that can never fit is refused without a message.
		const QString before = editor().toPlainText();
		for (QMimeData *data : {mimeData(noteOfLength(kNoteCharLimit + 1)), mimeData(QString(kParagraphCharLimit + 1, u'x')),
					mimeData(QString(), QStringLiteral("<p>x</p>").repeated(kNoteParagraphLimit + 1)),
					mimeData(QString(kParagraphCharLimit - 10, u'x'))}) // the last fits alone, but not here
			QVERIFY(!drop(editor(), 5, data));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(editor().toPlainText(), before);

		QVERIFY(drop(editor(), 30, mimeData(QStringLiteral("plain"), QStringLiteral("<i>rich</i>"))));
		QVERIFY(document()->find(QStringLiteral("rich")).charFormat().fontItalic());
	}
};

QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
