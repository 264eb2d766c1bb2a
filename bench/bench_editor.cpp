// The cost of the note-limit checks where they matter most: typing and pasting into a note at
// the limits, against the same edits in a stock QTextEdit in the same run.

#include "bench_stats.h"
#include "editor/editor.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quillmar;

namespace {

using namespace quillmar::bench;

// chars characters as the limits count them, in paragraphs of 9000 with words to wrap.
QString note(int chars)
{
	QString text;
	text.reserve(chars);
	const QString word = QStringLiteral("teleprompter ");
	while (text.size() < chars) {
		if (text.size() % 9001 == 9000)
			text += u'\n';
		else
			text += word[text.size() % word.size()];
	}
	return text;
}

QString pasteText(int chars)
{
	QString text;
	while (text.size() < chars)
		text += (text.size() % 800 == 799) ? QChar(u'\n') : QChar(char16_t(u'a' + text.size() % 26));
	return text;
}

bool g_withRepaint = false;

// Runs each edit on both widgets in alternation and returns the median microseconds of each:
// the edit itself (check, document change and layout), or that and the repaint after it.
std::pair<double, double> compare(QTextEdit &checked, QTextEdit &plain, int rounds,
				  const std::function<void(QTextEdit &)> &edit,
				  const std::function<void(QTextEdit &)> &restore)
{
	std::vector<double> a, b;
	QElapsedTimer timer;
	for (int i = 0; i < rounds; ++i) {
		for (QTextEdit *widget : {&checked, &plain}) {
			timer.start();
			edit(*widget);
			if (g_withRepaint)
				QApplication::processEvents();
			(widget == &checked ? a : b).push_back(timer.nsecsElapsed() / 1000.0);
			QApplication::processEvents();
			restore(*widget);
			QApplication::processEvents();
		}
	}
	return {median(a), median(b)};
}

void prepare(QTextEdit &widget, const QString &text, int position)
{
	widget.setPlainText(text);
	QTextCursor cursor = widget.textCursor();
	cursor.setPosition(position);
	widget.setTextCursor(cursor);
	widget.ensureCursorVisible();
}

void report(const char *what, std::pair<double, double> times)
{
	std::printf("%-46s checked %9.1f us   QTextEdit %9.1f us   ratio %.3f\n", what, times.first, times.second,
		    times.first / times.second);
}

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	Editor checked;
	int refusals = 0;
	checked.setLimitHandler([&refusals] { ++refusals; });
	QTextEdit plain;
	for (QTextEdit *widget : {static_cast<QTextEdit *>(&checked), &plain}) {
		widget->resize(700, 500);
		widget->show();
		if (!QTest::qWaitForWindowExposed(widget))
			return 1;
	}
	const int middle = 9001 * 11; // start of a paragraph in the middle of the note

	// A keystroke that brings the note to exactly the limit, then its undoing by Backspace.
	for (QTextEdit *widget : {static_cast<QTextEdit *>(&checked), &plain})
		prepare(*widget, note(kNoteCharLimit - 1), middle + 4000);
	std::printf("Edits alone (key event, check, document change, layout):\n");
	for (const bool repaint : {false, true}) {
		g_withRepaint = repaint;
		if (repaint)
			std::printf("The same edits with the repaint that follows them:\n");
		const int rounds = repaint ? 150 : 400;
		report("keystroke into a note of 199999 characters",
		       compare(checked, plain, rounds, [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_X); },
			       [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_Backspace); }));
		report("Backspace in a note of 200000 characters",
		       compare(checked, plain, rounds, [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_Backspace); },
			       [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_X); }));
		report("Return in a note of 199999 characters",
		       compare(checked, plain, rounds / 2, [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_Return); },
			       [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_Backspace); }));
	}
	g_withRepaint = false;

	// A refused keystroke costs the check alone; the stock widget inserts and removes again.
	prepare(checked, note(kNoteCharLimit), middle + 4000);
	refusals = 0;
	QElapsedTimer timer;
	timer.start();
	for (int i = 0; i < 400; ++i)
		QTest::keyClick(&checked, Qt::Key_X);
	std::printf("%-46s checked %9.1f us   (%d refused)\n", "refused keystroke in a full note",
		    timer.nsecsElapsed() / 1000.0 / 400, refusals);

	// Pasting 10000 characters (edit alone) of plain text into a note of 190000, undone after each round.
	const auto undo = [](QTextEdit &w) { w.document()->undo(); };
	auto *text = new QMimeData;
	text->setText(pasteText(kParagraphCharLimit));
	QApplication::clipboard()->setMimeData(text);
	for (QTextEdit *widget : {static_cast<QTextEdit *>(&checked), &plain})
		prepare(*widget, note(kNoteCharLimit - kParagraphCharLimit), middle);
	const auto paste = compare(
		checked, plain, 40, [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier); }, undo);
	report("paste of 10000 characters (plain text)", paste);

	auto *html = new QMimeData;
	const QString body = pasteText(kParagraphCharLimit - 20);
	html->setText(body);
	html->setHtml(QStringLiteral("<p><b>%1</b></p>").arg(QString(body).replace(u'\n', QStringLiteral("</b></p><p><b>"))));
	QApplication::clipboard()->setMimeData(html);
	const auto pasteHtml = compare(
		checked, plain, 40, [](QTextEdit &w) { QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier); }, undo);
	report("paste of 10000 characters (HTML)", pasteHtml);

	const bool intact = checked.document()->characterCount() == plain.document()->characterCount();
	std::printf("notes equal after the runs: %s; refusals during the compared edits: %d\n", intact ? "yes" : "NO",
		    refusals - 400);
	return intact ? 0 : 1;
}
