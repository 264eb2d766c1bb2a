#include "editor/editor.h"
#include "editor_input.h"
#include "test_util.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextTable>
#include <QVBoxLayout>

#include <functional>

using namespace quillmar;
using namespace quillmar::test;

using Edit = std::function<void(Editor &)>;
// A note, the selection, the edit; then the messages, and the note's characters and paragraphs
// (-1: not checked).
using EditRow = std::tuple<QString, int, int, Edit, int, int, int>;
Q_DECLARE_METATYPE(EditRow)

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

bool wheel(Editor &editor, int delta, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
{
	const QPointF at(20, 20);
	QWheelEvent event(at, editor.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
			  Qt::NoScrollPhase, false);
	event.setAccepted(false);
	QApplication::sendEvent(editor.viewport(), &event);
	return event.isAccepted();
}

qreal pointSizeAt(QTextDocument *document, int position)
{
	QTextCursor cursor(document);
	cursor.setPosition(position + 1);
	return cursor.charFormat().fontPointSize();
}

int leftMargin(const Editor &editor) { return editor.viewport()->geometry().left() - editor.contentsRect().left(); }

} // namespace

class EditorTest : public QObject {
	Q_OBJECT

	// An editor laid out in a window, so that once shown it paints as in the dock.
	std::unique_ptr<QWidget> m_window;
	Editor *m_editor = nullptr;
	int m_refusals = 0;

	void load(const QString &plain, int from = 0, int to = -1)
	{
		m_editor->setPlainText(plain);
		select(*m_editor, from, to < 0 ? from : to);
		m_refusals = 0;
	}
	void show(const QPalette &palette, const QString &styleSheet = QString())
	{
		m_window->setPalette(palette);
		m_window->setStyleSheet(styleSheet);
		m_window->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
	}

private Q_SLOTS:
	void init()
	{
		m_window = std::make_unique<QWidget>();
		m_editor = new Editor(m_window.get());
		(new QVBoxLayout(m_window.get()))->addWidget(m_editor);
		m_window->resize(320, 320);
		m_editor->setLimitHandler([this] { ++m_refusals; });
	}

	// Edits through keys, input methods and the checked calls, on notes at the limits: each
	// refused edit gives one message and changes nothing; shortcuts are not typing.
	void edits_data()
	{
		QTest::addColumn<EditRow>("row");
		const QString full = noteOfLength(kNoteCharLimit), breaks(kNoteParagraphLimit - 1, u'\n');
		const int N = kNoteCharLimit, P = kNoteParagraphLimit, end = kNoteCharLimit;
		const int fullBlocks = int(full.count(u'\n')) + 1;
		QTest::newRow("AltGr") << EditRow{full, end, end, keys("Ctrl+Alt+Q"), 1, N, fullBlocks};
		QTest::newRow("Shift+Return") << EditRow{full, end, end, keys("Shift+Return"), 1, N, fullBlocks};
		QTest::newRow("Ctrl+B") << EditRow{full, end, end, keys("Ctrl+B"), 0, N, fullBlocks};
		QTest::newRow("typing over a selection, deleting makes room") << EditRow{full, 100, 101, keys("Z Ctrl+End Backspace Ctrl+Home Del Shift+Return Y Y"), 1, N, fullBlocks};
		// Shift+Return breaks the line, not the paragraph.
		QTest::newRow("breaks at the paragraph limit") << EditRow{breaks, P - 1, P - 1, keys("Return Num+Enter Shift+Return"), 2, P, P};
		QTest::newRow("checked plain text") << EditRow{QString(P - 4, u'\n'), 0, 0, Edit([](Editor &e) {
				   QVERIFY(e.checkedInsertPlainText(QStringLiteral("a\r\nb\rc")) && !e.checkedInsertPlainText(QStringLiteral("\r\n\r\n")));
				   QVERIFY(!e.checkedDelete()); // nothing selected
			   }), 1, P + 1, P - 1};
		// Read-only: keys are taken without a message, and nothing changes through any path.
		QTest::newRow("read-only") << EditRow{full, 0, 3, Edit([](Editor &e) {
			e.setReadOnly(true);
			for (const Qt::Key k : {Qt::Key_X, Qt::Key_Delete})
				QTest::keyClick(&e, k);
			QTest::keyClick(&e, Qt::Key_C, Qt::ControlModifier);
			QCOMPARE(QApplication::clipboard()->text(), e.toPlainText().left(3));
			paste(e, mimeData(QStringLiteral("more")));
			QVERIFY(!e.checkedInsertPlainText(QStringLiteral("x")) && !e.checkedDelete() && !e.checkedCut());
		}), 0, N, fullBlocks};
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
		QTest::newRow("table one over") << EditRow{QString(P - 5, u'\n'), 0, 0, pasted("a\tb\nc\td", table, false), 1, P - 5, P - 4};
		QTest::newRow("table at the limit") << EditRow{QString(P - 6, u'\n'), 0, 0, pasted("a\tb\nc\td", table, true), 0, -1, P};
		QTest::newRow("list in a paragraph, one over") << EditRow{noteOfLength(N - 1), 3, 3, pasted("a", list, false), 1, N - 1, -1};
		QTest::newRow("list in a paragraph, at the limit") << EditRow{noteOfLength(N - 2), 3, 3, pasted("a", list, true), 0, -1, -1};
		QTest::newRow("too many paragraphs by itself") << EditRow{QString(), 0, 0, pasted("x", QStringLiteral("<p>x</p>").repeated(P + 1), false), 1, 0, 1};
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
		QTest::newRow("input method in a full note") << EditRow{full, 50, 50, Edit([](Editor &e) {
			sendInputMethod(e, QStringLiteral("\u306b\u307b"), QString());
			QCOMPARE(e.textCursor().block().layout()->preeditAreaText(), QStringLiteral("\u306b\u307b"));
			QVERIFY(sendInputMethod(e, QString(), QStringLiteral("\u65e5\u672c")));
			QVERIFY(e.textCursor().block().layout()->preeditAreaText().isEmpty());
		}), 1, N, fullBlocks};
		QTest::newRow("input method replacing before a selection") << EditRow{full, 0, 0, commits(50, 51, -2, 2, "xyz", "wxyz"), 1, N, fullBlocks};
		QTest::newRow("input method replacing before the cursor") << EditRow{full, 0, 0, commits(20, 20, -1, 1, "\u00e9", "\u00e9\u00e9"), 1, N, fullBlocks};
		// Starting to compose over a selection deletes it: here joining 6000 and 4001 characters.
		const Edit compose = [](Editor &e) { sendInputMethod(e, QStringLiteral("\u304b"), QString()); };
		QTest::newRow("composing would join too long") << EditRow{paragraphs({6000, 4001}), 6000, 6001, compose, 1, 10002, 2};
		QTest::newRow("composing joins") << EditRow{paragraphs({6000, 4001}), 5999, 6001, compose, 0, -1, 1};
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
		QTest::newRow("Delete would join too long") << EditRow{over, 6000, 6000, keys("Del"), 1, 10002, 2};
		QTest::newRow("Backspace would join too long") << EditRow{over, 6001, 6001, keys("Backspace"), 1, 10002, 2};
		QTest::newRow("Ctrl+X joins") << EditRow{fitting, 6000, 6001, cutBreak(false, true), 0, 10000, 1};
		QTest::newRow("Ctrl+X would join too long") << EditRow{over, 6000, 6001, cutBreak(false, false), 1, 10002, 2};
		QTest::newRow("checked cut joins") << EditRow{fitting, 6000, 6001, cutBreak(true, true), 0, 10000, 1};
		QTest::newRow("checked cut would join too long") << EditRow{over, 6000, 6001, cutBreak(true, false), 1, 10002, 2};
		// The plain alternative alone refuses a paste; its HTML is never read.
		QTest::newRow("plain text refuses before HTML is read") << EditRow{noteOfLength(N - 5), 0, 0, Edit([](Editor &e) {
			auto *data = new WatchedMimeData;
			data->setText(QStringLiteral("123456"));
			data->setHtml(QStringLiteral("<b>1</b>"));
			paste(e, data);
			QCOMPARE(data->htmlReads, 0);
		}), 1, N - 5, -1};
		// Replacing a selection across table cells only empties the cells: it frees less room than
		// it spans.
		QTest::newRow("paste over table cells") << EditRow{noteOfLength(N - 20), 0, 0, Edit([](Editor &e) {
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
		}), 1, N, -1};
	}
	void edits()
	{
		QFETCH(EditRow, row);
		const auto &[note, from, to, edit, refusals, chars, blocks] = row;
		load(note, from, to);
		edit(*m_editor);
		QCOMPARE(m_refusals, refusals);
		if (chars >= 0)
			QCOMPARE(noteChars(m_editor->document()), chars);
		if (blocks >= 0)
			QCOMPARE(m_editor->document()->blockCount(), blocks);
		QVERIFY(fitsNoteLimits(*m_editor->document()));
		QVERIFY(!m_editor->toPlainText().contains(u'\r'));
	}

	void drops()
	{
		show(m_window->palette());
		load(paragraphs({20, 20}));
		QVERIFY(drop(*m_editor, 5, mimeData(QStringLiteral("DROP"))));
		QCOMPARE(m_editor->toPlainText().mid(5, 4), QStringLiteral("DROP"));

		// Content that can never fit is refused without a message.
		const QString before = m_editor->toPlainText();
		for (QMimeData *data : {mimeData(noteOfLength(kNoteCharLimit + 1)), mimeData(QString(kParagraphCharLimit + 1, u'x')),
					mimeData(QString(), QStringLiteral("<p>x</p>").repeated(kNoteParagraphLimit + 1)),
					mimeData(QString(kParagraphCharLimit - 10, u'x'))}) // the last fits alone, but not here
			QVERIFY(!drop(*m_editor, 5, data));
		QCOMPARE(m_refusals, 1);
		QCOMPARE(m_editor->toPlainText(), before);
	}

	// Loaded paragraphs get the editor's line spacing unless they carry their own; loading an
	// empty note is neither an edit nor an undo step.
	void loadingNotes()
	{
		QTextDocument *document = m_editor->document();
		const qreal spacing = document->firstBlock().blockFormat().lineHeight();
		m_editor->setNoteHtml(QStringLiteral("<p>one</p><ul><li>two</li></ul><p style=\"line-height:250%\">3</p>"));
		QCOMPARE(document->findBlockByNumber(1).blockFormat().lineHeight(), spacing);
		QCOMPARE(document->lastBlock().blockFormat().lineHeight(), 250.0);
		m_editor->setNoteHtml(QString());
		QCOMPARE(document->firstBlock().blockFormat().lineHeight(), spacing);
		QVERIFY(!document->isUndoAvailable() && !document->isModified());
	}

	// Pixel sizes become points; unsized text starts from the document's font; one zoom is one
	// undo step, and none when nothing changes. By the wheel, 3 x 40 units make one notch; a
	// wheel event without Control in between starts the count again; other modifiers do not
	// zoom; several notches at once do, within the bounds.
	void zoom()
	{
		Editor &editor = *m_editor;
		QTextDocument *document = editor.document();
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:10pt\">a</span><span style=\"font-size:20px\">b</span>"
						  "<span style=\"font-size:140pt\">c</span><span style=\"font-size:7pt\">d</span>e</p>"));
		QSignalSpy undoSteps(document, &QTextDocument::undoCommandAdded);
		editor.zoomBy(2);
		QCOMPARE(undoSteps.size(), 1);
		const auto sizes = [document] { return QList<qreal>{pointSizeAt(document, 0), pointSizeAt(document, 1), pointSizeAt(document, 2), pointSizeAt(document, 3), pointSizeAt(document, 4)}; };
		QCOMPARE(sizes(), (QList<qreal>{12, 20 * 72.0 / editor.logicalDpiY() + 2, 142, 9, document->defaultFont().pointSizeF() + 2}));
		QVERIFY(!document->find(QStringLiteral("b")).charFormat().hasProperty(QTextFormat::FontPixelSize));
		editor.zoomBy(5);
		editor.zoomBy(-20);
		QCOMPARE(sizes().mid(2, 2), (QList<qreal>{124, 6}));
		document->undo();
		QCOMPARE(sizes().mid(2, 2), (QList<qreal>{144, 14}));
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:6pt\">a</span></p>"));
		undoSteps.clear();
		editor.zoomBy(-1);
		QVERIFY(undoSteps.isEmpty() && !document->isModified());
		// An empty note zooms the typing font instead.
		editor.setNoteHtml(QString());
		const qreal typing = editor.currentFont().pointSizeF();
		editor.zoomBy(3);
		QTest::keyClick(&editor, Qt::Key_A);
		QCOMPARE(pointSizeAt(document, 0), typing + 3);

		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:12pt\">abc</span></p>").repeated(200));
		show(m_window->palette());
		const auto size = [&editor] { return pointSizeAt(editor.document(), 0); };
		QVERIFY(wheel(editor, 40) && wheel(editor, 40));
		QCOMPARE(size(), 12.0);
		QVERIFY(wheel(editor, 40) && wheel(editor, 40) && wheel(editor, 40));
		QCOMPARE(size(), 13.0);
		wheel(editor, -240, Qt::NoModifier);
		QVERIFY(editor.verticalScrollBar()->value() > 0);
		QVERIFY(wheel(editor, 40) && wheel(editor, 40) && wheel(editor, 120, Qt::ControlModifier | Qt::ShiftModifier));
		QCOMPARE(size(), 13.0);
		wheel(editor, -360);
		QCOMPARE(size(), 10.0);
		wheel(editor, std::numeric_limits<int>::max());
		QCOMPARE(size(), 144.0);
		// A read-only note does not zoom, but the event is still taken.
		editor.setReadOnly(true);
		QVERIFY(wheel(editor, -120));
		QCOMPARE(size(), 144.0);
		QCOMPARE(editor.document()->defaultFont(), editor.font());
	}

	// The gutter makes room for the widest number and gives it back; the QR margin keeps it.
	void gutterWidth()
	{
		Editor &editor = *m_editor;
		editor.setPlainText(QString(8, u'\n'));
		const int one = leftMargin(editor);
		QWidget *gutter = editor.findChild<QWidget *>(QStringLiteral("lineNumbers"));
		QCOMPARE(gutter->width(), one);
		editor.moveCursor(QTextCursor::End);
		QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier); // a line, not a paragraph
		QCOMPARE(leftMargin(editor), one);
		QTest::keyClick(&editor, Qt::Key_Return);
		QVERIFY(leftMargin(editor) > one);
		QCOMPARE(gutter->width(), leftMargin(editor));
		QTest::keyClick(&editor, Qt::Key_Backspace);
		QCOMPARE(leftMargin(editor), one);
		editor.setQrMargin(true);
		QVERIFY(editor.contentsRect().right() - editor.viewport()->geometry().right() >= 24);
		QCOMPARE(leftMargin(editor), one);
	}

	// Numbers stand by the first line of each paragraph only; the current paragraph's first
	// line carries the band across the gutter, and nothing else does.
	void gutterPainting()
	{
		QPalette palette;
		palette.setColor(QPalette::Highlight, Qt::blue);
		palette.setColor(QPalette::Base, Qt::white);
		m_editor->setPlainText(QStringLiteral("one\n%1\nthree").arg(QStringLiteral("wrapped words ").repeated(30)));
		select(*m_editor, 10, 10);
		show(palette);
		QApplication::processEvents();
		const QTextDocument *document = m_editor->document();
		QVERIFY(document->findBlockByNumber(1).layout()->lineCount() >= 3);
		const QImage image = m_editor->findChild<QWidget *>(QStringLiteral("lineNumbers"))->grab().toImage().convertToFormat(QImage::Format_RGB32);
		// First lines of the three paragraphs, in gutter rows.
		QList<QPair<qreal, qreal>> firstLines;
		for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
			const QTextLine line = block.layout()->lineAt(0);
			const qreal top = document->documentLayout()->blockBoundingRect(block).top() - m_editor->verticalScrollBar()->value() + line.y();
			firstLines.append({top, top + line.height()});
		}
		QList<bool> numbered(3, false);
		for (int y = 0; y < image.height(); ++y) {
			bool ink = false;
			for (int x = 1; x < image.width(); ++x)
				ink = ink || image.pixel(x, y) != image.pixel(0, y);
			int paragraph = -1;
			for (int i = 0; i < 3; ++i)
				paragraph = y >= firstLines[i].first - 1 && y <= firstLines[i].second + 1 ? i : paragraph;
			QVERIFY2(!ink || paragraph >= 0, qPrintable(QStringLiteral("ink at row %1").arg(y)));
			numbered[qMax(paragraph, 0)] = numbered[qMax(paragraph, 0)] || ink;
			if (y >= firstLines[1].first + 1 && y < firstLines[1].second - 1)
				QCOMPARE(image.pixelColor(0, y), QColor(Qt::blue));
			else if (paragraph != 1)
				QCOMPARE(image.pixelColor(0, y), QColor(Qt::white));
		}
		QCOMPARE(numbered, QList<bool>(3, true));
	}

	// Changing the search-match or read-only state restyles the editor at once.
	void propertiesRestyle()
	{
		show(m_window->palette(), QStringLiteral("QTextEdit[searchMatch=\"true\"] { background-color: rgb(255, 242, 0); }"
							 "QTextEdit[readOnly=\"true\"] { background-color: rgb(0, 128, 0); }"));
		const auto centre = [this] {
			const QImage image = m_editor->viewport()->grab().toImage();
			return image.pixelColor(image.width() / 2, image.height() / 2);
		};
		const QColor plain = centre();
		QList<QColor> seen;
		for (const auto &[search, readOnly] : {std::pair(true, false), {false, false}, {false, true}, {false, false}}) {
			m_editor->setReadOnly(readOnly); // first, so that it cannot restyle for the match
			m_editor->setSearchMatch(search);
			seen << centre();
		}
		QCOMPARE(seen, (QList<QColor>{QColor(255, 242, 0), plain, QColor(0, 128, 0), plain}));
	}
};

QTEST_MAIN(EditorTest)
#include "tst_editor.moc"
