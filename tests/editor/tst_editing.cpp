#include "editor/editor.h"
#include "editor_test_util.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextList>
#include <QTextTable>

#include <memory>

using namespace quillmar;
using namespace quillmar::test;

namespace {

// Tells whether the HTML of a paste was ever read.
class WatchedMimeData : public QMimeData {
public:
	mutable int htmlReads = 0;

protected:
	QVariant retrieveData(const QString &mimeType, QMetaType type) const override
	{
		if (mimeType == QLatin1String("text/html"))
			++htmlReads;
		return QMimeData::retrieveData(mimeType, type);
	}
};

QMimeData *mimeData(const QString &text, const QString &html = QString())
{
	auto *data = new QMimeData;
	if (!text.isNull())
		data->setText(text);
	if (!html.isNull())
		data->setHtml(html);
	return data;
}

// Pastes through the clipboard and the paste key, as a user does.
void paste(Editor &editor, QMimeData *data)
{
	QApplication::clipboard()->setMimeData(data);
	QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
}

void typeKey(Editor &editor, Qt::Key key, const QString &text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
	QTest::sendKeyEvent(QTest::Click, &editor, key, text, modifiers);
}

bool sendInputMethod(Editor &editor, const QString &preedit, const QString &commit, int from = 0, int length = 0)
{
	QInputMethodEvent event(preedit, {});
	event.setCommitString(commit, from, length);
	event.setAccepted(false);
	QApplication::sendEvent(&editor, &event);
	return event.isAccepted();
}

bool drop(Editor &editor, int position, QMimeData *dropped)
{
	const std::unique_ptr<QMimeData> owner(dropped);
	const QMimeData *data = dropped;
	QTextCursor at(editor.document());
	at.setPosition(position);
	const QPoint point = editor.cursorRect(at).center();
	QDragEnterEvent enter(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &enter);
	QDragMoveEvent move(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &move);
	QDropEvent event(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
	event.setAccepted(false);
	QApplication::sendEvent(editor.viewport(), &event);
	return event.isAccepted();
}

void select(Editor &editor, int from, int to)
{
	QTextCursor cursor = editor.textCursor();
	cursor.setPosition(from);
	cursor.setPosition(to, QTextCursor::KeepAnchor);
	editor.setTextCursor(cursor);
}

void placeCursor(Editor &editor, int position)
{
	select(editor, position, position);
}

} // namespace

class EditingTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Editor> m_editor;
	int m_refusals = 0;

	Editor &editor() { return *m_editor; }
	QTextDocument *document() { return m_editor->document(); }
	void load(const QString &plain)
	{
		m_editor->setPlainText(plain);
		m_refusals = 0;
	}

private Q_SLOTS:
	void init()
	{
		m_editor = std::make_unique<Editor>();
		m_editor->setAcceptRichText(true);
		m_editor->resize(640, 400);
		m_refusals = 0;
		m_editor->setLimitHandler([this] { ++m_refusals; });
	}
	void cleanup() { m_editor.reset(); }

	void typingInAFullNote()
	{
		load(noteOfLength(kNoteCharLimit));
		editor().moveCursor(QTextCursor::End);
		const QString full = editor().toPlainText();

		for (int i = 1; i <= 3; ++i) {
			QTest::keyClick(&editor(), Qt::Key_X);
			QCOMPARE(m_refusals, i);
		}
		typeKey(editor(), Qt::Key_Q, QStringLiteral("@"), Qt::ControlModifier | Qt::AltModifier); // AltGr
		QCOMPARE(m_refusals, 4);
		QCOMPARE(editor().toPlainText(), full);

		// Meta and keypad combinations with printable text do type.
		typeKey(editor(), Qt::Key_B, QStringLiteral("b"), Qt::MetaModifier);
		typeKey(editor(), Qt::Key_5, QStringLiteral("5"), Qt::ControlModifier | Qt::KeypadModifier);
		QCOMPARE(m_refusals, 6);
		QCOMPARE(editor().toPlainText(), full);

		// Shortcuts are not typing and go through unchecked.
		typeKey(editor(), Qt::Key_B, QStringLiteral("b"), Qt::ControlModifier);
		typeKey(editor(), Qt::Key_B, QStringLiteral("B"), Qt::ControlModifier | Qt::ShiftModifier);
		QTest::keyClick(&editor(), Qt::Key_A, Qt::ControlModifier);
		QCOMPARE(m_refusals, 6);
		QCOMPARE(editor().textCursor().selectedText().size(), kNoteCharLimit);

		// Typing over a selection of one character keeps the count.
		select(editor(), 100, 101);
		QTest::keyClick(&editor(), Qt::Key_Z);
		QCOMPARE(document()->characterAt(100), QChar(u'z'));
		QCOMPARE(noteChars(document()), kNoteCharLimit);

		// Deleting always fits, and makes room for exactly one more character.
		editor().moveCursor(QTextCursor::End);
		QTest::keyClick(&editor(), Qt::Key_Backspace);
		placeCursor(editor(), 0);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QCOMPARE(noteChars(document()), kNoteCharLimit - 2);
		typeKey(editor(), Qt::Key_Q, QStringLiteral("@"), Qt::ControlModifier | Qt::AltModifier);
		QTest::keyClick(&editor(), Qt::Key_Y);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
		QCOMPARE(document()->characterAt(0), QChar(u'@'));
		QCOMPARE(m_refusals, 6);
		QTest::keyClick(&editor(), Qt::Key_Y);
		QCOMPARE(m_refusals, 7);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
	}

	void breaksAtTheParagraphLimit()
	{
		load(QString(kNoteParagraphLimit - 1, u'\n'));
		editor().moveCursor(QTextCursor::End);
		QTest::keyClick(&editor(), Qt::Key_Return);
		QTest::keyClick(&editor(), Qt::Key_Enter, Qt::KeypadModifier);
		QCOMPARE(m_refusals, 2);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);

		// Shift+Return breaks the line, not the paragraph.
		QTest::keyClick(&editor(), Qt::Key_Return, Qt::ShiftModifier);
		QCOMPARE(m_refusals, 2);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);
		QCOMPARE(document()->lastBlock().text(), QString(QChar(QChar::LineSeparator)));

		placeCursor(editor(), 0);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 1);
		QTest::keyClick(&editor(), Qt::Key_Return);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);
		QCOMPARE(m_refusals, 2);
	}

	void lineSeparatorIsOneCharacter()
	{
		load(noteOfLength(kNoteCharLimit));
		editor().moveCursor(QTextCursor::End);
		const int paragraphs = document()->blockCount();
		QTest::keyClick(&editor(), Qt::Key_Return, Qt::ShiftModifier);
		QCOMPARE(m_refusals, 1);
		QTest::keyClick(&editor(), Qt::Key_Backspace);
		QTest::keyClick(&editor(), Qt::Key_Return, Qt::ShiftModifier);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
		QCOMPARE(document()->blockCount(), paragraphs);
	}

	// Deleting the separator between two paragraphs joins them.
	void joins_data()
	{
		QTest::addColumn<int>("second");
		QTest::addColumn<int>("key");
		QTest::addColumn<int>("modifiers");
		QTest::addColumn<bool>("atEndOfFirst");
		QTest::addColumn<bool>("joins");
		const int none = Qt::NoModifier;
		for (const int second : {4000, 4001}) {
			const bool fits = second == 4000;
			const QByteArray size = QByteArray::number(6000 + second);
			QTest::newRow("Delete at the end, " + size) << second << int(Qt::Key_Delete) << none << true << fits;
			QTest::newRow("Backspace at the start, " + size)
				<< second << int(Qt::Key_Backspace) << none << false << fits;
			QTest::newRow("Ctrl+Delete at the end, " + size)
				<< second << int(Qt::Key_Delete) << int(Qt::ControlModifier) << true << fits;
		}
	}
	void joins()
	{
		QFETCH(int, second);
		QFETCH(int, key);
		QFETCH(int, modifiers);
		QFETCH(bool, atEndOfFirst);
		QFETCH(bool, joins);
		load(paragraphs({6000, second}));
		placeCursor(editor(), atEndOfFirst ? 6000 : 6001);
		QTest::keyClick(&editor(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
		QCOMPARE(document()->blockCount(), joins ? 1 : 2);
		QCOMPARE(m_refusals, joins ? 0 : 1);
		QCOMPARE(noteChars(document()), 6000 + second + (joins ? 0 : 1));
	}

	void cutKey()
	{
		load(paragraphs({6000, 4001}));
		QApplication::clipboard()->setText(QStringLiteral("before"));
		select(editor(), 6000, 6001);
		QTest::keyClick(&editor(), Qt::Key_X, Qt::ControlModifier);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), 2);
		QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));

		select(editor(), 5999, 6001);
		QTest::keyClick(&editor(), Qt::Key_X, Qt::ControlModifier);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), 1);
		QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a\n"));
	}

	void pastePlainText()
	{
		load(QString(kNoteParagraphLimit - 11, u'\n'));
		paste(editor(), mimeData(QStringLiteral("a\r\nb\r\nc\rd\r\ne\r\nf\r\ng\r\nh\r\ni\r\nj\r\nk")));
		QCOMPARE(m_refusals, 0);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);
		QVERIFY(!editor().toPlainText().contains(u'\r'));

		load(QString(kNoteParagraphLimit - 11, u'\n'));
		paste(editor(), mimeData(QStringLiteral("a\r\nb\r\nc\rd\r\ne\r\nf\r\ng\r\nh\r\ni\r\nj\r\nk\r\nl")));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 10);

		// A paste may replace a selection that makes room for it.
		load(noteOfLength(kNoteCharLimit));
		select(editor(), 10, 20);
		paste(editor(), mimeData(QStringLiteral("0123456789")));
		QCOMPARE(m_refusals, 0);
		QCOMPARE(editor().toPlainText().mid(10, 10), QStringLiteral("0123456789"));
	}

	void pasteHtml()
	{
		// The plain alternative alone refuses the paste; the HTML is never read.
		load(noteOfLength(kNoteCharLimit - 5));
		auto *data = new WatchedMimeData;
		data->setText(QStringLiteral("123456"));
		data->setHtml(QStringLiteral("<b>1</b>"));
		paste(editor(), data);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(data->htmlReads, 0);
		QCOMPARE(noteChars(document()), kNoteCharLimit - 5);

		// Formatting survives.
		load(QStringLiteral("start "));
		editor().moveCursor(QTextCursor::End);
		paste(editor(), mimeData(QStringLiteral("bold red\nitem"),
					 QStringLiteral("<b>bold</b> <span style=\"color:#ff0000\">red</span>"
							"<ul><li>item</li></ul>")));
		QCOMPARE(m_refusals, 0);
		const QTextCursor bold = document()->find(QStringLiteral("bold"));
		QCOMPARE(bold.charFormat().fontWeight(), int(QFont::Bold));
		const QTextCursor red = document()->find(QStringLiteral("red"));
		QCOMPARE(red.charFormat().foreground().color(), QColor(Qt::red));
		const QTextCursor item = document()->find(QStringLiteral("item"));
		QVERIFY(item.block().textList());
		QCOMPARE(editor().textCursor().position(), item.position());
	}

	// HTML may carry more paragraphs and characters than its plain alternative shows.
	void pasteHtmlStructure_data()
	{
		QTest::addColumn<QString>("note");
		QTest::addColumn<int>("position");
		QTest::addColumn<QString>("html");
		QTest::addColumn<QString>("plain");
		QTest::addColumn<bool>("fits");
		const QString table = QStringLiteral("<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>");
		// A 2 x 2 table adds 4 cells and the end of its frame.
		QTest::newRow("table one over the paragraph limit")
			<< QString(kNoteParagraphLimit - 5, u'\n') << 0 << table << "a\tb\nc\td" << false;
		QTest::newRow("table at the paragraph limit")
			<< QString(kNoteParagraphLimit - 6, u'\n') << 0 << table << "a\tb\nc\td" << true;
		// Inside a paragraph a pasted list starts a paragraph of its own.
		const QString list = QStringLiteral("<ul><li>a</li></ul>");
		QTest::newRow("list inside a paragraph, one over")
			<< noteOfLength(kNoteCharLimit - 1) << 3 << list << "a" << false;
		QTest::newRow("list inside a paragraph, at the limit")
			<< noteOfLength(kNoteCharLimit - 2) << 3 << list << "a" << true;
		QTest::newRow("too many paragraphs by itself")
			<< QString() << 0 << QStringLiteral("<p>x</p>").repeated(kNoteParagraphLimit + 1) << "x" << false;
	}
	void pasteHtmlStructure()
	{
		QFETCH(QString, note);
		QFETCH(int, position);
		QFETCH(QString, html);
		QFETCH(QString, plain);
		QFETCH(bool, fits);
		load(note);
		placeCursor(editor(), position);
		paste(editor(), mimeData(plain, html));
		QCOMPARE(m_refusals, fits ? 0 : 1);
		QVERIFY(fitsNoteLimits(*document()));
		QCOMPARE(document()->isUndoAvailable(), fits); // a refused paste leaves no trace
	}

	// Replacing a selection across table cells only empties the cells, so it frees less room
	// than the selection spans.
	void pasteOverTableCells()
	{
		load(noteOfLength(kNoteCharLimit - 20));
		QTextCursor end(document());
		end.movePosition(QTextCursor::End);
		QTextTable *table = end.insertTable(2, 2);
		for (int cell = 0; cell < 4; ++cell)
			table->cellAt(cell / 2, cell % 2).firstCursorPosition().insertText(QString(1, QChar(u'a' + cell)));
		QTextCursor filler(document());
		filler.insertText(QString(kNoteCharLimit - noteChars(document()), u'f'));
		QCOMPARE(noteChars(document()), kNoteCharLimit);
		document()->clearUndoRedoStacks();

		QTextCursor cells = table->cellAt(0, 0).firstCursorPosition();
		cells.setPosition(table->cellAt(1, 1).lastCursorPosition().position(), QTextCursor::KeepAnchor);
		QVERIFY(cells.hasComplexSelection());
		editor().setTextCursor(cells);
		paste(editor(), mimeData(QStringLiteral("vwxyz")));
		QCOMPARE(m_refusals, 1);
		QVERIFY(!document()->isUndoAvailable());
		QVERIFY(fitsNoteLimits(*document()));
	}

	void pasteIntoReadOnly()
	{
		load(QStringLiteral("text"));
		editor().setReadOnly(true);
		paste(editor(), mimeData(QStringLiteral("more")));
		QCOMPARE(editor().toPlainText(), QStringLiteral("text"));
	}

	void inputMethod()
	{
		load(noteOfLength(kNoteCharLimit));
		placeCursor(editor(), 50);
		const QString full = editor().toPlainText();

		// Composing inserts nothing yet and is not checked; committing is.
		sendInputMethod(editor(), QStringLiteral("にほ"), QString());
		QCOMPARE(m_refusals, 0);
		QCOMPARE(editor().textCursor().block().layout()->preeditAreaText(), QStringLiteral("にほ"));
		QVERIFY(sendInputMethod(editor(), QString(), QStringLiteral("日本")));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(editor().toPlainText(), full);
		QVERIFY(editor().textCursor().block().layout()->preeditAreaText().isEmpty());

		// A commit over a selection that also replaces text before it: the widget removes the
		// selection first, so "xyz" replaces three characters and the note stays full.
		select(editor(), 50, 51);
		sendInputMethod(editor(), QString(), QStringLiteral("xyz"), -2, 2);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
		QCOMPARE(editor().toPlainText(), full.left(48) + QStringLiteral("xyz") + full.mid(51));

		const QString edited = editor().toPlainText();
		select(editor(), 50, 51);
		QVERIFY(sendInputMethod(editor(), QString(), QStringLiteral("wxyz"), -2, 2));
		QCOMPARE(m_refusals, 2);
		QCOMPARE(editor().toPlainText(), edited);

		// Replacing without a selection, as dead keys and correction do.
		placeCursor(editor(), 20);
		sendInputMethod(editor(), QString(), QStringLiteral("é"), -1, 1);
		QCOMPARE(document()->characterAt(19), QChar(u'é'));
		QVERIFY(sendInputMethod(editor(), QString(), QStringLiteral("éé"), -1, 1));
		QCOMPARE(m_refusals, 3);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
	}

	void compositionOverASelection()
	{
		// Starting to compose over a selection deletes it; here that would join the two
		// paragraphs into one of 10001 characters.
		load(paragraphs({6000, 4001}));
		select(editor(), 6000, 6001);
		QVERIFY(sendInputMethod(editor(), QStringLiteral("か"), QString()));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), 2);
		QCOMPARE(noteChars(document()), 10002);

		select(editor(), 5999, 6001);
		sendInputMethod(editor(), QStringLiteral("か"), QString());
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), 1);
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
		QVERIFY(!drop(editor(), 5, mimeData(noteOfLength(kNoteCharLimit + 1))));
		QVERIFY(!drop(editor(), 5, mimeData(QString(kParagraphCharLimit + 1, u'x'))));
		QVERIFY(!drop(editor(), 5, mimeData(QString(), QStringLiteral("<p>x</p>").repeated(kNoteParagraphLimit + 1))));
		QCOMPARE(m_refusals, 0);
		QCOMPARE(editor().toPlainText(), before);

		// Content that fits alone but not in this note is refused with one.
		QVERIFY(!drop(editor(), 5, mimeData(QString(kParagraphCharLimit - 10, u'x'))));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(editor().toPlainText(), before);

		QVERIFY(drop(editor(), 30, mimeData(QStringLiteral("plain"), QStringLiteral("<i>rich</i>"))));
		QCOMPARE(m_refusals, 1);
		const QTextCursor rich = document()->find(QStringLiteral("rich"));
		QVERIFY(rich.charFormat().fontItalic());
	}

	void checkedEdits()
	{
		load(paragraphs({6000, 4001}));
		select(editor(), 6000, 6001);
		QVERIFY(!editor().checkedDelete());
		QVERIFY(!editor().checkedCut());
		QCOMPARE(m_refusals, 2);
		QCOMPARE(document()->blockCount(), 2);

		select(editor(), 5999, 6001);
		QVERIFY(editor().checkedCut());
		QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a\n"));
		QCOMPARE(document()->blockCount(), 1);
		select(editor(), 0, 10);
		QVERIFY(editor().checkedDelete());
		QCOMPARE(noteChars(document()), 9990);
		QVERIFY(!editor().textCursor().hasSelection());
		QVERIFY(!editor().checkedDelete()); // nothing selected
		QCOMPARE(m_refusals, 2);

		load(QString(kNoteParagraphLimit - 4, u'\n'));
		QVERIFY(editor().checkedInsertPlainText(QStringLiteral("a\r\nb\rc")));
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 1);
		QVERIFY(!editor().toPlainText().contains(u'\r'));
		QVERIFY(!editor().checkedInsertPlainText(QStringLiteral("\r\n\r\n")));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 1);

		editor().setReadOnly(true);
		select(editor(), 0, 1);
		QVERIFY(!editor().checkedInsertPlainText(QStringLiteral("x")));
		QVERIFY(!editor().checkedDelete());
		QVERIFY(!editor().checkedCut());
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 1);
	}

	void readOnlyPassesKeys()
	{
		load(noteOfLength(kNoteCharLimit));
		editor().setReadOnly(true);
		const QString full = editor().toPlainText();
		select(editor(), 0, 3);
		QTest::keyClick(&editor(), Qt::Key_X);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QTest::keyClick(&editor(), Qt::Key_C, Qt::ControlModifier);
		QCOMPARE(m_refusals, 0);
		QCOMPARE(editor().toPlainText(), full);
		QCOMPARE(QApplication::clipboard()->text(), full.left(3));
	}

	void handlerIsReleased()
	{
		auto token = std::make_shared<int>(0);
		m_editor->setLimitHandler([token] { ++*token; });
		QCOMPARE(token.use_count(), 2);
		m_editor.reset();
		QCOMPARE(token.use_count(), 1);
	}
};

QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
