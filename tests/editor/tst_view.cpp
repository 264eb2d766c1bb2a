#include "editor/editor.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace quillmar;

namespace {

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

class ViewTest : public QObject {
	Q_OBJECT

	// An editor laid out in a shown window, so that it paints as in the dock.
	QWidget *m_window = nullptr;
	Editor *m_editor = nullptr;

	void show(const QPalette &palette, const QString &styleSheet = QString())
	{
		m_window->setPalette(palette);
		m_window->setStyleSheet(styleSheet);
		m_window->resize(320, 320);
		m_window->show();
		QVERIFY(QTest::qWaitForWindowExposed(m_window));
	}

private Q_SLOTS:
	void init()
	{
		m_window = new QWidget;
		m_editor = new Editor(m_window);
		(new QVBoxLayout(m_window))->addWidget(m_editor);
	}
	void cleanup() { delete m_window; }

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

	// 3 x 40 units make one notch; a wheel event without Control in between starts the count
	// again; other modifiers do not zoom; several notches at once do, within the bounds.
	void wheelZoom()
	{
		Editor &editor = *m_editor;
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:12pt\">abc</span></p>").repeated(200));
		show(m_window->palette());
		const auto size = [&editor] { return pointSizeAt(editor.document(), 0); };
		QVERIFY(wheel(editor, 40) && wheel(editor, 40));
		QCOMPARE(size(), 12.0);
		QVERIFY(wheel(editor, 40) && wheel(editor, 40) && wheel(editor, 40));
		QCOMPARE(size(), 13.0);
		wheel(editor, -240, Qt::NoModifier);
		QVERIFY(editor.verticalScrollBar()->value() > 0);
		wheel(editor, 40);
		wheel(editor, 40);
		wheel(editor, 120, Qt::ControlModifier | Qt::ShiftModifier);
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

	// Pixel sizes become points; unsized text starts from the document's font; one zoom is one
	// undo step, and none when nothing changes.
	void zoomSizes()
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
		QTextCursor atB(document);
		atB.setPosition(2);
		QVERIFY(!atB.charFormat().hasProperty(QTextFormat::FontPixelSize));
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
		QTextCursor cursor = m_editor->textCursor();
		cursor.setPosition(10);
		m_editor->setTextCursor(cursor);
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
			m_editor->setSearchMatch(search);
			m_editor->setReadOnly(readOnly);
			seen << centre();
		}
		QCOMPARE(seen, (QList<QColor>{QColor(255, 242, 0), plain, QColor(0, 128, 0), plain}));
		QVERIFY(plain != seen[0] && plain != seen[2]);
	}
};

QTEST_MAIN(ViewTest)
#include "tst_view.moc"
