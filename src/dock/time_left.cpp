#include "dock/time_left.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>

namespace quillmar {

int secondsLeft(double remaining, double speed)
{
	if (!std::isfinite(remaining) || remaining <= 0 || !std::isfinite(speed) || speed <= 0)
		return 0;
	// The pixel ranges of a note stay far below where a double loses whole seconds, but a
	// hostile value must not overflow the int.
	const double seconds = std::ceil(remaining / (10.0 * speed) - 1e-9);
	return int(qMin(seconds, 359999.0));
}

QString formatTimeLeft(int seconds)
{
	seconds = qMax(seconds, 0);
	return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

namespace {

bool isApostrophe(QChar c)
{
	return c == QLatin1Char('\'') || c == QChar(0x2019);
}

} // namespace

int countWords(QStringView text)
{
	int words = 0;
	bool inWord = false;
	for (qsizetype i = 0; i < text.size(); ++i) {
		const QChar c = text[i];
		if (c.isLetterOrNumber() || c.isMark()) {
			if (!inWord)
				++words;
			inWord = true;
		} else if (!(inWord && isApostrophe(c) && i + 1 < text.size() && text[i + 1].isLetter())) {
			inWord = false;
		}
	}
	return words;
}

int wordsAfter(const QTextCursor &cursor)
{
	const QTextDocument *document = cursor.document();
	if (!document)
		return 0;
	QTextBlock block = document->findBlock(cursor.position());
	if (!block.isValid())
		return 0;
	// The word the cursor stands in still has to be read, so the first block counts from the
	// start of that word rather than mid-word.
	const QString first = block.text();
	qsizetype from = qBound<qsizetype>(0, qsizetype(cursor.position() - block.position()), first.size());
	if (from < first.size() && first[from].isLetterOrNumber())
		while (from > 0 && first[from - 1].isLetterOrNumber())
			--from;
	int words = countWords(QStringView(first).mid(from));
	for (block = block.next(); block.isValid(); block = block.next())
		words += countWords(block.text());
	return words;
}

} // namespace quillmar
