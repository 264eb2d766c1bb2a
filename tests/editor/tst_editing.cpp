#include "editor/editor.h"
#include "test_util.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextDocumentFragment>
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
		htmlReads += mimeType == QLatin1String("text/html");
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
	QTextCursor at(editor.document());
	at.setPosition(position);
	const QPoint point = editor.cursorRect(at).center();
	QDragEnterEvent enter(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &enter);
	QDragMoveEvent move(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &move);
	QDropEvent event(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
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

} // namespace

class EditingTest : public QObject {
	Q_OBJECT

	std::unique_ptr<Editor> m_editor;
	int m_refusals = 0;

	Editor &editor() { return *m_editor; }
	QTextDocument *document() { return m_editor->document(); }
	void load(const QString &plain, int from = -1, int to = -1)
	{
		m_editor->setPlainText(plain);
		if (from >= 0)
			select(*m_editor, from, to < 0 ? from : to);
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

	// In a full note, typed text is refused with one message per key; shortcuts are not typing.
	void keysInAFullNote_data()
	{
		QTest::addColumn<int>("key");
		QTest::addColumn<QString>("text");
		QTest::addColumn<int>("modifiers");
		QTest::addColumn<bool>("checked");
		QTest::newRow("letter") << int(Qt::Key_X) << "x" << int(Qt::NoModifier) << true;
		QTest::newRow("AltGr") << int(Qt::Key_Q) << "@" << int(Qt::ControlModifier | Qt::AltModifier) << true;
		QTest::newRow("Shift+Return") << int(Qt::Key_Return) << "\r" << int(Qt::ShiftModifier) << true;
		QTest::newRow("Ctrl+B") << int(Qt::Key_B) << "b" << int(Qt::ControlModifier) << false;
	}
	void keysInAFullNote()
	{
		QFETCH(int, key);
		QFETCH(QString, text);
		QFETCH(int, modifiers);
		QFETCH(bool, checked);
		load(noteOfLength(kNoteCharLimit), kNoteCharLimit);
		const QString full = editor().toPlainText();
		for (int i = 1; i <= 2; ++i) {
			QTest::sendKeyEvent(QTest::Click, &editor(), Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
			QCOMPARE(m_refusals, checked ? i : 0);
		}
		QCOMPARE(editor().toPlainText(), full);
	}

	void deletingMakesRoom()
	{
		load(noteOfLength(kNoteCharLimit), 100, 101);
		// Typing over one selected character keeps the count.
		QTest::keyClick(&editor(), Qt::Key_Z);
		QCOMPARE(document()->characterAt(100), QChar(u'z'));
		editor().moveCursor(QTextCursor::End);
		QTest::keyClick(&editor(), Qt::Key_Backspace);
		select(editor(), 0, 0);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QCOMPARE(noteChars(document()), kNoteCharLimit - 2);
		QTest::keyClick(&editor(), Qt::Key_Return, Qt::ShiftModifier);
		QTest::keyClick(&editor(), Qt::Key_Y);
		QCOMPARE(m_refusals, 0);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
		QTest::keyClick(&editor(), Qt::Key_Y);
		QCOMPARE(m_refusals, 1);
		QCOMPARE(noteChars(document()), kNoteCharLimit);
	}

	void breaksAtTheParagraphLimit()
	{
		load(QString(kNoteParagraphLimit - 1, u'\n'), kNoteParagraphLimit - 1);
		QTest::keyClick(&editor(), Qt::Key_Return);
		QTest::keyClick(&editor(), Qt::Key_Enter, Qt::KeypadModifier);
		QCOMPARE(m_refusals, 2);
		// Shift+Return breaks the line, not the paragraph.
		QTest::keyClick(&editor(), Qt::Key_Return, Qt::ShiftModifier);
		QCOMPARE(m_refusals, 2);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);
		QCOMPARE(document()->lastBlock().text(), QString(QChar(QChar::LineSeparator)));

		select(editor(), 0, 0);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QTest::keyClick(&editor(), Qt::Key_Return);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit);
		QCOMPARE(m_refusals, 2);
	}

	// Removing the separator between a 6000- and a 4000/4001-character paragraph joins them.
	void joins_data()
	{
		QTest::addColumn<int>("second");
		QTest::addColumn<int>("from");
		QTest::addColumn<int>("to");
		QTest::addColumn<int>("key");
		QTest::addColumn<int>("modifiers");
		const int none = Qt::NoModifier, ctrl = Qt::ControlModifier;
		for (const int second : {4000, 4001}) {
			const QByteArray size = ", " + QByteArray::number(6000 + second);
			QTest::newRow("Delete at the end" + size) << second << 6000 << 6000 << int(Qt::Key_Delete) << none;
			QTest::newRow("Backspace at the start" + size) << second << 6001 << 6001 << int(Qt::Key_Backspace) << none;
			QTest::newRow("Ctrl+X of the break" + size) << second << 6000 << 6001 << int(Qt::Key_X) << ctrl;
			// Key 1 stands for the checked cut that menus and buttons use.
			QTest::newRow("checked cut of the break" + size) << second << 6000 << 6001 << 1 << none;
		}
	}
	void joins()
	{
		QFETCH(int, second);
		QFETCH(int, from);
		QFETCH(int, to);
		QFETCH(int, key);
		QFETCH(int, modifiers);
		const bool fits = second == 4000;
		load(paragraphs({6000, second}), from, to);
		const QString cut = editor().textCursor().selection().toPlainText();
		QApplication::clipboard()->setText(QStringLiteral("before"));
		if (key == 1)
			QCOMPARE(editor().checkedCut(), fits);
		else
			QTest::keyClick(&editor(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
		QCOMPARE(document()->blockCount(), fits ? 1 : 2);
		QCOMPARE(m_refusals, fits ? 0 : 1);
		QCOMPARE(noteChars(document()), 6000 + second + (fits ? 0 : 1));
		// A refused cut leaves the clipboard alone.
		const bool cuts = key == Qt::Key_X || key == 1;
		QCOMPARE(QApplication::clipboard()->text(), fits && cuts ? cut : QStringLiteral("before"));
	}

	// Pastes whose plain text or HTML may carry more than it seems.
	void pasteLimits_data()
	{
		QTest::addColumn<QString>("note");
		QTest::addColumn<int>("from");
		QTest::addColumn<int>("to");
		QTest::addColumn<QString>("plain");
		QTest::addColumn<QString>("html");
		QTest::addColumn<bool>("fits");
		// A 2 x 2 table adds 4 cells and the end of its frame.
		const QString table = QStringLiteral("<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>");
		QTest::newRow("table one over the paragraph limit")
			<< QString(kNoteParagraphLimit - 5, u'\n') << 0 << 0 << "a\tb\nc\td" << table << false;
		QTest::newRow("table at the paragraph limit")
			<< QString(kNoteParagraphLimit - 6, u'\n') << 0 << 0 << "a\tb\nc\td" << table << true;
		// Inside a paragraph a pasted list starts a paragraph of its own.
		const QString list = QStringLiteral("<ul><li>a</li></ul>");
		QTest::newRow("list inside a paragraph, one over") << noteOfLength(kNoteCharLimit - 1) << 3 << 3 << "a" << list << false;
		QTest::newRow("list inside a paragraph, at the limit") << noteOfLength(kNoteCharLimit - 2) << 3 << 3 << "a" << list << true;
		QTest::newRow("too many paragraphs by itself")
			<< QString() << 0 << 0 << "x" << QStringLiteral("<p>x</p>").repeated(kNoteParagraphLimit + 1) << false;
	}
	void pasteLimits()
	{
		QFETCH(QString, note);
		QFETCH(int, from);
		QFETCH(int, to);
		QFETCH(QString, plain);
		QFETCH(QString, html);
		QFETCH(bool, fits);
		load(note, from, to);
		paste(editor(), mimeData(plain, html));
		QCOMPARE(m_refusals, fits ? 0 : 1);
		QVERIFY(fitsNoteLimits(*document()));
		QVERIFY(!editor().toPlainText().contains(u'\r'));
		QCOMPARE(document()->isUndoAvailable(), fits); // a refused paste leaves no trace
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
		QTextCursor(document()).insertText(QString(kNoteCharLimit - noteChars(document()), u'f'));
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

	void inputMethod()
	{
		load(noteOfLength(kNoteCharLimit), 50);
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
		const QString edited = full.left(48) + QStringLiteral("xyz") + full.mid(51);
		QCOMPARE(editor().toPlainText(), edited);
		select(editor(), 50, 51);
		QVERIFY(sendInputMethod(editor(), QString(), QStringLiteral("wxyz"), -2, 2));
		QCOMPARE(m_refusals, 2);
		QCOMPARE(editor().toPlainText(), edited);

		// Replacing without a selection, as dead keys and correction do.
		select(editor(), 20, 20);
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
		load(paragraphs({6000, 4001}), 6000, 6001);
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
		// Content that fits alone but not in this note is refused with one.
		QVERIFY(!drop(editor(), 5, mimeData(QString(kParagraphCharLimit - 10, u'x'))));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(editor().toPlainText(), before);

		QVERIFY(drop(editor(), 30, mimeData(QStringLiteral("plain"), QStringLiteral("<i>rich</i>"))));
		QVERIFY(document()->find(QStringLiteral("rich")).charFormat().fontItalic());
	}

	void checkedPlainText()
	{
		load(QString(kNoteParagraphLimit - 4, u'\n'));
		QVERIFY(editor().checkedInsertPlainText(QStringLiteral("a\r\nb\rc")));
		QVERIFY(!editor().checkedInsertPlainText(QStringLiteral("\r\n\r\n")));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(document()->blockCount(), kNoteParagraphLimit - 1);
		QVERIFY(!editor().toPlainText().contains(u'\r'));
		QVERIFY(!editor().checkedDelete()); // nothing selected
	}

	// A read-only note takes keys without a message and changes through no path.
	void readOnly()
	{
		load(noteOfLength(kNoteCharLimit), 0, 3);
		editor().setReadOnly(true);
		const QString full = editor().toPlainText();
		QTest::keyClick(&editor(), Qt::Key_X);
		QTest::keyClick(&editor(), Qt::Key_Delete);
		QTest::keyClick(&editor(), Qt::Key_C, Qt::ControlModifier);
		QCOMPARE(QApplication::clipboard()->text(), full.left(3));
		paste(editor(), mimeData(QStringLiteral("more")));
		QVERIFY(!editor().checkedInsertPlainText(QStringLiteral("x")));
		QVERIFY(!editor().checkedDelete());
		QVERIFY(!editor().checkedCut());
		QCOMPARE(m_refusals, 0);
		QCOMPARE(editor().toPlainText(), full);
	}
};

QTEST_MAIN(EditingTest)
#include "tst_editing.moc"
