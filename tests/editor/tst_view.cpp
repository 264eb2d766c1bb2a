#include "editor/editor.h"
#include "editor_test_util.h"
#include "module/text.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace quillmar;
using namespace quillmar::test;

namespace {

bool wheel(Editor &editor, int delta, Qt::KeyboardModifiers modifiers)
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

int rightMargin(Editor &editor)
{
	return editor.contentsRect().right() - editor.viewport()->geometry().right();
}

int digitWidth(const QFont &font)
{
	const QFontMetrics metrics(font);
	int width = 0;
	for (QChar digit : QStringLiteral("0123456789"))
		width = std::max(width, metrics.horizontalAdvance(digit));
	return width;
}

QString outputPath(const QString &name)
{
	QString dir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT");
	if (dir.isEmpty())
		dir = QDir::tempPath();
	QDir().mkpath(dir);
	return QDir(dir).filePath(name);
}

int countColour(const QImage &image, QColor colour)
{
	int n = 0;
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			n += image.pixelColor(x, y) == colour;
	return n;
}

// Row ranges [first, last] of the image whose pixels are not all the colour at their left edge.
QList<QPair<int, int>> inkedRows(const QImage &image)
{
	QList<QPair<int, int>> runs;
	for (int y = 0; y < image.height(); ++y) {
		const QRgb edge = image.pixel(0, y);
		bool ink = false;
		for (int x = 1; x < image.width() && !ink; ++x)
			ink = image.pixel(x, y) != edge;
		if (!ink)
			continue;
		if (!runs.isEmpty() && runs.last().second == y - 1)
			runs.last().second = y;
		else
			runs.append({y, y});
	}
	return runs;
}

} // namespace

class ViewTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void construction()
	{
		Editor editor;
		QWidget *gutter = gutterOf(editor);
		QVERIFY(gutter);
		QCOMPARE(gutter->accessibleName(), text("LineNumbers"));
		QVERIFY(gutter->testAttribute(Qt::WA_TransparentForMouseEvents));
		QCOMPARE(editor.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
		QCOMPARE(editor.document()->firstBlock().blockFormat().lineHeight(), 140.0);
		QVERIFY(!editor.document()->isUndoAvailable());
		QVERIFY(!editor.document()->isModified());

		// Loaded paragraphs get the same spacing through the default style sheet.
		editor.setNoteHtml(QStringLiteral("<p>one</p><ul><li>two</li></ul>"));
		QCOMPARE(editor.document()->firstBlock().blockFormat().lineHeight(), 140.0);
		QCOMPARE(editor.document()->lastBlock().blockFormat().lineHeight(), 140.0);
	}

	void loadingNotes()
	{
		Editor editor;
		editor.setNoteHtml(QStringLiteral("<p style=\"line-height:200%\">text</p>"));
		QCOMPARE(editor.document()->firstBlock().blockFormat().lineHeight(), 200.0);

		// An empty note gets the default line height, without an undo step and without
		// counting as a change.
		editor.document()->setModified(true);
		editor.document()->setUndoRedoEnabled(false);
		editor.setNoteHtml(QString());
		const QTextBlockFormat format = editor.document()->firstBlock().blockFormat();
		QCOMPARE(format.lineHeight(), 140.0);
		QCOMPARE(format.lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
		QVERIFY(!editor.document()->isUndoRedoEnabled());
		editor.document()->setUndoRedoEnabled(true);
		editor.setNoteHtml(QString());
		QVERIFY(!editor.document()->isUndoAvailable());
		QVERIFY(!editor.document()->isModified());
	}

	void wheelZoom()
	{
		Editor editor;
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:12pt\">abc</span></p>"));
		// 3 x 40 units make one notch.
		QVERIFY(wheel(editor, 40, Qt::ControlModifier));
		QVERIFY(wheel(editor, 40, Qt::ControlModifier));
		QCOMPARE(pointSizeAt(editor.document(), 0), 12.0);
		QVERIFY(wheel(editor, 40, Qt::ControlModifier));
		QCOMPARE(pointSizeAt(editor.document(), 0), 13.0);

		// A wheel event without Control in between starts the count again.
		wheel(editor, 40, Qt::ControlModifier);
		wheel(editor, 40, Qt::ControlModifier);
		wheel(editor, 40, Qt::NoModifier);
		wheel(editor, 40, Qt::ControlModifier);
		wheel(editor, 40, Qt::ControlModifier);
		QCOMPARE(pointSizeAt(editor.document(), 0), 13.0);
		wheel(editor, 40, Qt::ControlModifier);
		QCOMPARE(pointSizeAt(editor.document(), 0), 14.0);

		// Other modifiers do not zoom; several notches at once do, both ways.
		wheel(editor, 120, Qt::ControlModifier | Qt::ShiftModifier);
		QCOMPARE(pointSizeAt(editor.document(), 0), 14.0);
		wheel(editor, -360, Qt::ControlModifier);
		QCOMPARE(pointSizeAt(editor.document(), 0), 11.0);
		wheel(editor, std::numeric_limits<int>::max(), Qt::ControlModifier);
		QCOMPARE(pointSizeAt(editor.document(), 0), 144.0);

		// A read-only note does not zoom, but the event is still taken.
		editor.setReadOnly(true);
		QVERIFY(wheel(editor, 120, Qt::ControlModifier));
		QCOMPARE(pointSizeAt(editor.document(), 0), 144.0);
	}

	void plainWheelScrolls()
	{
		Editor editor;
		editor.resize(300, 200);
		editor.setPlainText(QString(200, u'\n'));
		editor.show();
		QVERIFY(QTest::qWaitForWindowExposed(&editor));
		wheel(editor, -240, Qt::NoModifier);
		QVERIFY(editor.verticalScrollBar()->value() > 0);
		QCOMPARE(editor.document()->defaultFont(), editor.font());
	}

	void zoomSizes()
	{
		Editor editor;
		editor.setNoteHtml(QStringLiteral("<p><span style=\"font-size:10pt\">a</span>"
						  "<span style=\"font-size:20px\">b</span>"
						  "<span style=\"font-size:140pt\">c</span>"
						  "<span style=\"font-size:7pt\">d</span>e</p>"));
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
		QCOMPARE(pointSizeAt(document, 2), 144.0);
		editor.zoomBy(-20);
		QCOMPARE(pointSizeAt(document, 3), 6.0);
		QCOMPARE(pointSizeAt(document, 2), 124.0);

		// One zoom is one undo step.
		editor.document()->undo();
		QCOMPARE(pointSizeAt(document, 2), 144.0);
		QCOMPARE(pointSizeAt(document, 3), 14.0);

		// Nothing left to change: no undo step.
		Editor tiny;
		tiny.setNoteHtml(QStringLiteral("<p><span style=\"font-size:6pt\">a</span></p>"));
		QSignalSpy tinySteps(tiny.document(), &QTextDocument::undoCommandAdded);
		tiny.zoomBy(-1);
		QCOMPARE(tinySteps.size(), 0);
		QVERIFY(!tiny.document()->isModified());

		// An empty note zooms the typing font instead.
		Editor empty;
		const qreal typing = empty.currentFont().pointSizeF();
		empty.zoomBy(3);
		QCOMPARE(empty.fontPointSize(), typing + 3);
		QTest::keyClick(&empty, Qt::Key_A);
		QCOMPARE(pointSizeAt(empty.document(), 0), typing + 3);
	}

	void gutterWidth()
	{
		Editor editor;
		editor.resize(400, 300);
		editor.setPlainText(QString(8, u'\n'));
		QFont bold = editor.font();
		bold.setWeight(QFont::Bold);
		const int digit = digitWidth(bold);
		QCOMPARE(leftMargin(editor), digit + 14);
		QCOMPARE(gutterOf(editor)->geometry(),
			 QRect(editor.contentsRect().left(), editor.viewport()->y(), digit + 14, editor.viewport()->height()));

		editor.moveCursor(QTextCursor::End);
		QTest::keyClick(&editor, Qt::Key_Return, Qt::ShiftModifier);
		QCOMPARE(leftMargin(editor), digit + 14);
		QTest::keyClick(&editor, Qt::Key_Return);
		QCOMPARE(editor.document()->blockCount(), 10);
		QCOMPARE(leftMargin(editor), 2 * digit + 14);
		QCOMPARE(gutterOf(editor)->width(), 2 * digit + 14);
		QTest::keyClick(&editor, Qt::Key_Backspace);
		QCOMPARE(leftMargin(editor), digit + 14);

		// A bigger font widens the gutter; the QR margin keeps it.
		QFont big = editor.font();
		big.setPointSize(big.pointSize() * 3);
		editor.setFont(big);
		big.setWeight(QFont::Bold);
		QCOMPARE(leftMargin(editor), digitWidth(big) + 14);
		editor.setQrMargin(true);
		QCOMPARE(rightMargin(editor), 28);
		QCOMPARE(leftMargin(editor), digitWidth(big) + 14);
		QCOMPARE(gutterOf(editor)->height(), editor.viewport()->height());
		editor.setQrMargin(false);
		QCOMPARE(rightMargin(editor), 0);
		QCOMPARE(leftMargin(editor), digitWidth(big) + 14);
	}

	// Numbers stand by the first line of each paragraph only; the current paragraph's first
	// line carries the band.
	void gutterPainting()
	{
		QWidget window;
		QPalette outer = window.palette();
		outer.setColor(QPalette::Highlight, QColor(0, 0, 255));
		outer.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
		window.setPalette(outer);
		auto *editor = new Editor(&window);
		QPalette own = editor->palette();
		own.setColor(QPalette::Base, QColor(255, 255, 255));
		own.setColor(QPalette::Window, QColor(224, 224, 224));
		own.setColor(QPalette::WindowText, QColor(0, 0, 0));
		editor->setPalette(own);
		(new QVBoxLayout(&window))->addWidget(editor);
		window.resize(320, 320);

		const QString words = QStringLiteral("wrapped words ").repeated(30);
		editor->setPlainText(QStringLiteral("one\n%1\nthree").arg(words));
		editor->textCursor();
		QTextCursor cursor = editor->textCursor();
		cursor.setPosition(10);
		editor->setTextCursor(cursor);
		window.show();
		QVERIFY(QTest::qWaitForWindowExposed(&window));
		QApplication::processEvents();

		const QTextDocument *document = editor->document();
		const QTextBlock wrapped = document->findBlockByNumber(1);
		QVERIFY(wrapped.layout()->lineCount() >= 3);

		QWidget *gutter = gutterOf(*editor);
		const QImage image = gutter->grab().toImage().convertToFormat(QImage::Format_RGB32);
		QVERIFY(image.save(outputPath(QStringLiteral("editor-gutter.png"))));
		window.grab().save(outputPath(QStringLiteral("editor-window.png")));

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
		for (int i = 0; i < 3; ++i) {
			QVERIFY2(numbers[i].first >= firstLines[i].first - 1 && numbers[i].second <= firstLines[i].second + 1,
				 qPrintable(QStringLiteral("number %1 drawn at rows %2-%3").arg(i + 1).arg(numbers[i].first).arg(numbers[i].second)));
		}

		// The band fills the first line of paragraph 2 across the gutter and nothing else.
		const QColor band(0, 0, 255);
		for (int y = 0; y < image.height(); ++y) {
			const bool inBand = y >= firstLines[1].first + 1 && y < firstLines[1].second - 1;
			const bool outside = y < firstLines[1].first - 1 || y > firstLines[1].second + 1;
			if (inBand)
				QCOMPARE(image.pixelColor(0, y), band);
			if (outside)
				QCOMPARE(image.pixelColor(0, y), QColor(255, 255, 255));
		}

		// Disabled: no band; focused and editable: the Window colour as background.
		editor->setEnabled(false);
		QCOMPARE(countColour(gutter->grab().toImage().convertToFormat(QImage::Format_RGB32), band), 0);
		editor->setEnabled(true);
		window.activateWindow();
		editor->setFocus();
		QVERIFY(QTest::qWaitForWindowActive(&window));
		QTRY_VERIFY(editor->hasFocus());
		const QImage focused = gutter->grab().toImage().convertToFormat(QImage::Format_RGB32);
		QCOMPARE(focused.pixelColor(0, focused.height() - 1), QColor(224, 224, 224));
	}

	void searchMatch()
	{
		QWidget window;
		window.setStyleSheet(QStringLiteral(
			"QTextEdit[searchMatch=\"true\"] { selection-background-color: #fff200; selection-color: #202126; }"));
		auto *editor = new Editor(&window);
		(new QVBoxLayout(&window))->addWidget(editor);
		window.resize(320, 200);
		editor->setPlainText(QStringLiteral("a search hit in the note"));
		editor->selectAll();
		window.show();
		window.activateWindow();
		editor->setFocus();
		QVERIFY(QTest::qWaitForWindowActive(&window));

		const QColor yellow(0xff, 0xf2, 0x00);
		QCOMPARE(countColour(editor->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), yellow), 0);
		editor->setSearchMatch(true);
		QVERIFY(editor->searchMatch());
		QCOMPARE(editor->property("searchMatch").toBool(), true);
		QVERIFY(countColour(editor->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), yellow) > 100);
		editor->setSearchMatch(false);
		QCOMPARE(countColour(editor->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32), yellow), 0);
	}

	void readOnlyRestyles()
	{
		QWidget window;
		window.setStyleSheet(QStringLiteral("QTextEdit[readOnly=\"true\"] { background-color: rgb(0, 128, 0); }"));
		auto *editor = new Editor(&window);
		(new QVBoxLayout(&window))->addWidget(editor);
		window.resize(320, 200);
		window.show();
		QVERIFY(QTest::qWaitForWindowExposed(&window));
		const QColor green(0, 128, 0);
		const auto centre = [editor] {
			const QImage image = editor->viewport()->grab().toImage();
			return image.pixelColor(image.width() / 2, image.height() / 2);
		};
		QVERIFY(centre() != green);
		editor->setReadOnly(true);
		QCOMPARE(centre(), green);
		editor->setReadOnly(false);
		QVERIFY(centre() != green);
	}
};

QTEST_MAIN(ViewTest)
#include "tst_view.moc"
