#include "editor/note_limits.h"

#include <QTextBlock>
#include "documents/note_document.h"

#include <cmath>
#include <utility>

namespace quillmar {

namespace {

// QTextCursor::insertText turns exactly these into block boundaries.
bool startsParagraph(QChar ch)
{
	switch (ch.unicode()) {
	case u'\n':
	case u'\r':
	case QChar::ParagraphSeparator:
	case 0xfdd0: // QTextBeginningOfFrame
	case 0xfdd1: // QTextEndOfFrame
		return true;
	default:
		return false;
	}
}

} // namespace

bool fitsNoteLimits(const QTextDocument &document)
{
	if (document.characterCount() - 1 > kNoteCharLimit || document.blockCount() > kNoteParagraphLimit)
		return false;
	for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
		if (block.length() - 1 > kParagraphCharLimit)
			return false;
	}
	return true;
}

bool fitsNoteLimits(const QString &html)
{
	NoteDocument scratch;
	scratch.setUndoRedoEnabled(false);
	scratch.setLayoutEnabled(false);
	scratch.setHtml(html);
	return fitsNoteLimits(scratch);
}

bool insertionFitsNoteLimits(const QTextDocument &document, int start, int end, QStringView text)
{
	const int last = document.characterCount() - 1;
	start = qBound(0, start, last);
	end = qBound(0, end, last);
	if (start > end)
		std::swap(start, end);

	const QTextBlock first = document.findBlock(start);
	const QTextBlock final = document.findBlock(end);
	if (!first.isValid() || !final.isValid())
		return false;
	qint64 paragraphs = document.blockCount() - final.blockNumber() + first.blockNumber();
	qint64 line = start - first.position();

	const qsizetype n = text.size();
	qint64 chars = qint64(last) - (end - start) + n;
	for (qsizetype i = 0; i < n; ++i) {
		const QChar ch = text[i];
		if (ch == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
			--chars; // the pair becomes one paragraph separator
			continue;
		}
		if (!startsParagraph(ch)) {
			++line;
			continue;
		}
		if (line > kParagraphCharLimit || ++paragraphs > kNoteParagraphLimit)
			return false;
		line = 0;
	}
	line += final.position() + final.length() - 1 - end;
	return chars <= kNoteCharLimit && line <= kParagraphCharLimit && paragraphs <= kNoteParagraphLimit;
}

int visibleCharacterCount(const QTextDocument &document, int start, int end)
{
	if (start > end)
		std::swap(start, end);
	const int breaks = document.findBlock(end).blockNumber() - document.findBlock(start).blockNumber();
	return end - start - breaks;
}

int remainingCharacters(int total)
{
	return qMax(kNoteCharLimit - total, 0);
}

int scrollPercent(int value, int minimum, int maximum)
{
	const int range = maximum - minimum;
	return range >= 1 ? int(std::lround(100.0 * (value - minimum) / range)) : 0;
}

QString normalizeLineEnds(QString text)
{
	text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
	text.replace(u'\r', u'\n');
	return text;
}

} // namespace quillmar
