#include "editor/editor.h"
#include "test_util.h"
#include "module/text.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace quillmar;
using namespace quillmar::test;

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

qreal pointSizeAt(const QTextDocument *document, int position)
{
	QTextCursor cursor(const_cast<QTextDocument *>(document));
	cursor.setPosition(position + 1);
	return cursor.charFormat().fontPointSize();
}

QWidget *gutterOf(Editor &editor)
{
	return editor.findChild<QWidget *>(QStringLiteral("lineNumbers"));
}

int leftMargin(Editor &editor)
{
	return editor.viewport()->geometry().left() - editor.contentsRect().left();
}

QImage grabRgb(QWidget *widget)
{
	return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Row ranges [first, last] of the image whose pixels are not all the colour at their left edge.
QList<QPair<int, int>> inkedRows(const QImage &image)
{
	QList<QPair<int, int>> runs;
	for (int y = 0; y < image.height(); ++y) {
		bool ink = false;
		for (int x = 1; x < image.width() && !ink; ++x)
			ink = image.pixel(x, y) != image.pixel(0, y);
		if (ink && !runs.isEmpty() && runs.last().second == y - 1)
			runs.last().second = y;
		else if (ink)
			runs.append({y, y});
	}
	return runs;
}

} // namespace

class ViewTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Loaded paragraphs get the editor's line spacing unless they carry their own; loading an
	// empty note is neither an edit nor an undo step.
	void loadingNotes()
	{
		Editor editor;
		const qreal spacing = editor.document()->firstBlock().blockFormat().lineHeight();
		editor.setNoteHtml(QStringLiteral("<p>one</p><ul><li>two</li></ul><p style=\"line-height:250%\">3</p>"));
		QCOMPARE(editor.document()->findBlockByNumber(1).blockFormat().lineHeight(), spacing);
		QCOMPARE(editor.document()->lastBlock().blockFormat().lineHeight(), 250.0);
		editor.setNoteHtml(QString());
		QCOMPARE(editor.document()->firstBlock().blockFormat().lineHeight(), spacing);
		QVERIFY(!editor.document()->isUndoAvailable());
		QVERIFY(!editor.document()->isModified());
	}

	void wheelZoom()
	{
		Editor editor;
		editor.resize(300, 200);
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:12pt\">abc</span></p>").repeated(200));
		editor.show();
		QVERIFY(QTest::qWaitForWindowExposed(&editor));
		const auto size = [&editor] { return pointSizeAt(editor.document(), 0); };
		// 3 x 40 units make one notch.
		QVERIFY(wheel(editor, 40));
		QVERIFY(wheel(editor, 40));
		QCOMPARE(size(), 12.0);
		QVERIFY(wheel(editor, 40));
		QCOMPARE(size(), 13.0);

		// A wheel event without Control in between starts the count again.
		wheel(editor, 40);
		wheel(editor, 40);
		wheel(editor, -240, Qt::NoModifier);
		QVERIFY(editor.verticalScrollBar()->value() > 0);
		wheel(editor, 40);
		wheel(editor, 40);
		QCOMPARE(size(), 13.0);
		wheel(editor, 40);
		QCOMPARE(size(), 14.0);

		// Other modifiers do not zoom; several notches at once do, both ways.
		wheel(editor, 120, Qt::ControlModifier | Qt::ShiftModifier);
		QCOMPARE(size(), 14.0);
		wheel(editor, -360);
		QCOMPARE(size(), 11.0);
		wheel(editor, std::numeric_limits<int>::max());
		QCOMPARE(size(), 144.0);

		// A read-only note does not zoom, but the event is still taken.
		editor.setReadOnly(true);
		QVERIFY(wheel(editor, -120));
		QCOMPARE(size(), 144.0);
		QCOMPARE(editor.document()->defaultFont(), editor.font());
	}

	void zoomSizes()
	{
		Editor editor;
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:10pt\">a</span><span style=\"font-size:20px\">b</span>"
						  "<span style=\"font-size:140pt\">c</span><span style=\"font-size:7pt\">d</span>e</p>"));
		const QTextDocument *document = editor.document();
		QSignalSpy undoSteps(document, &QTextDocument::undoCommandAdded);
		editor.zoomBy(2);
		QCOMPARE(undoSteps.size(), 1);
		QCOMPARE(pointSizeAt(document, 0), 12.0);
		// Pixel sizes become points.
		QCOMPARE(pointSizeAt(document, 1), 20 * 72.0 / editor.logicalDpiY() + 2);
		QTextCursor atB(editor.document());
		atB.setPosition(2);
		QVERIFY(!atB.charFormat().hasProperty(QTextFormat::FontPixelSize));
		QCOMPARE(pointSizeAt(document, 2), 142.0);
		QCOMPARE(pointSizeAt(document, 3), 9.0);
		// Unsized text starts from the document's font.
		QCOMPARE(pointSizeAt(document, 4), editor.document()->defaultFont().pointSizeF() + 2);

		editor.zoomBy(5);
		editor.zoomBy(-20);
		QCOMPARE(pointSizeAt(document, 3), 6.0);
		QCOMPARE(pointSizeAt(document, 2), 124.0);
		// One zoom is one undo step.
		editor.document()->undo();
		QCOMPARE(pointSizeAt(document, 2), 144.0);
		QCOMPARE(pointSizeAt(document, 3), 14.0);

		// Nothing left to change: no undo step.
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:6pt\">a</span></p>"));
		undoSteps.clear();
		editor.zoomBy(-1);
		QCOMPARE(undoSteps.size(), 0);
		QVERIFY(!editor.document()->isModified());

		// An empty note zooms the typing font instead.
		Editor empty;
		const qreal typing = empty.currentFont().pointSizeF();
		empty.zoomBy(3);
		QTest::keyClick(&empty, Qt::Key_A);
		QCOMPARE(pointSizeAt(empty.document(), 0), typing + 3);
	}

	// The gutter makes room for the widest number and gives it back; the QR margin keeps it.
	void gutterWidth()
	{
		Editor editor;
		editor.resize(400, 300);
		editor.setPlainText(QString(8, u'\n'));
		const int one = leftMargin(editor);
		QCOMPARE(gutterOf(editor)->width(), one);
		editor.moveCursor(QTextCursor::End);
		QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier); // a line, not a paragraph
		QCOMPARE(leftMargin(editor), one);
		QTest::keyClick(&editor, Qt::Key_Return);
		QVERIFY(leftMargin(editor) > one);
		QCOMPARE(gutterOf(editor)->width(), leftMargin(editor));
		QTest::keyClick(&editor, Qt::Key_Backspace);
		QCOMPARE(leftMargin(editor), one);
		editor.setQrMargin(true);
		QVERIFY(editor.contentsRect().right() - editor.viewport()->geometry().right() >= 24);
		QCOMPARE(leftMargin(editor), one);
	}

	// Numbers stand by the first line of each paragraph only; the current paragraph's first
	// line carries the band.
	void gutterPainting()
	{
		QWidget window;
		QPalette palette = window.palette();
		palette.setColor(QPalette::Highlight, QColor(0, 0, 255));
		palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
		palette.setColor(QPalette::Base, QColor(255, 255, 255));
		palette.setColor(QPalette::Window, QColor(224, 224, 224));
		palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
		window.setPalette(palette);
		auto *editor = new Editor(&window);
		(new QVBoxLayout(&window))->addWidget(editor);
		window.resize(320, 320);
		editor->setPlainText(QStringLiteral("one\n%1\nthree").arg(QStringLiteral("wrapped words ").repeated(30)));
		QTextCursor cursor = editor->textCursor();
		cursor.setPosition(10);
		editor->setTextCursor(cursor);
		window.show();
		QVERIFY(QTest::qWaitForWindowExposed(&window));
		QApplication::processEvents();

		const QTextDocument *document = editor->document();
		QVERIFY(document->findBlockByNumber(1).layout()->lineCount() >= 3);
		QWidget *gutter = gutterOf(*editor);
		const QImage image = grabRgb(gutter);

		// First lines of the three paragraphs, in gutter coordinates.
		const int scroll = editor->verticalScrollBar()->value();
		QList<QPair<qreal, qreal>> firstLines;
		for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
			const qreal top = document->documentLayout()->blockBoundingRect(block).top() - scroll;
			const QTextLine line = block.layout()->lineAt(0);
			firstLines.append({top + line.y(), top + line.y() + line.height()});
		}
		const QList<QPair<int, int>> numbers = inkedRows(image);
		QCOMPARE(numbers.size(), 3);
		for (int i = 0; i < 3; ++i)
			QVERIFY2(numbers[i].first >= firstLines[i].first - 1 && numbers[i].second <= firstLines[i].second + 1,
				 qPrintable(QStringLiteral("number %1 at rows %2-%3").arg(i + 1).arg(numbers[i].first).arg(numbers[i].second)));

		// The band fills the first line of paragraph 2 across the gutter and nothing else.
		const QColor band(0, 0, 255);
		for (int y = 0; y < image.height(); ++y) {
			if (y >= firstLines[1].first + 1 && y < firstLines[1].second - 1)
				QCOMPARE(image.pixelColor(0, y), band);
			if (y < firstLines[1].first - 1 || y > firstLines[1].second + 1)
				QCOMPARE(image.pixelColor(0, y), QColor(255, 255, 255));
		}

	}

	// Changing the search-match or read-only state restyles the editor at once.
	void propertiesRestyle()
	{
		QWidget window;
		window.setStyleSheet(QStringLiteral("QTextEdit[searchMatch=\"true\"] { background-color: rgb(255, 242, 0); }"
						    "QTextEdit[readOnly=\"true\"] { background-color: rgb(0, 128, 0); }"));
		auto *editor = new Editor(&window);
		(new QVBoxLayout(&window))->addWidget(editor);
		window.resize(320, 200);
		window.show();
		QVERIFY(QTest::qWaitForWindowExposed(&window));
		const auto centre = [editor] {
			const QImage image = editor->viewport()->grab().toImage();
			return image.pixelColor(image.width() / 2, image.height() / 2);
		};
		const QColor plain = centre(), yellow(255, 242, 0), green(0, 128, 0);
		QVERIFY(plain != yellow && plain != green);
		editor->setSearchMatch(true);
		QCOMPARE(centre(), yellow);
		editor->setSearchMatch(false);
		QCOMPARE(centre(), plain);
		editor->setReadOnly(true);
		QCOMPARE(centre(), green);
		editor->setReadOnly(false);
		QCOMPARE(centre(), plain);
	}
};

QTEST_MAIN(ViewTest)
#include "tst_view.moc"
