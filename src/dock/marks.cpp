#include "dock/marks.h"

#include <QTextBlock>

#include <algorithm>

namespace quillmar {

std::optional<MarkSpan> markSpanAt(QStringView paragraph, int column)
{
	const int length = int(paragraph.size());
	const int from = std::min(column, length - 1);
	if (from < 0)
		return std::nullopt;
	const int start = int(paragraph.lastIndexOf(QChar(kMarkGlyph), from));
	if (start < 0)
		return std::nullopt;
	int end = start + 1;
	if (end < length && paragraph.at(end) == u'[') {
		const int close = int(paragraph.indexOf(u']', end + 1));
		if (close > end) {
			const QStringView label = paragraph.mid(end + 1, close - end - 1);
			if (!label.contains(QChar(kMarkGlyph)) && !label.contains(QChar::LineSeparator))
				end = close + 1;
		}
	}
	if (column > end)
		return std::nullopt;
	return MarkSpan{start, end};
}

QTextCursor markAtCursor(const QTextCursor &cursor)
{
	const QTextBlock block = cursor.block();
	const std::optional<MarkSpan> mark = markSpanAt(block.text(), cursor.position() - block.position());
	if (!mark)
		return QTextCursor();
	QTextCursor found(cursor);
	found.setPosition(block.position() + mark->start);
	found.setPosition(block.position() + mark->end, QTextCursor::KeepAnchor);
	return found;
}

QColor markColor(bool dark)
{
	return dark ? QColor(0xff, 0xb3, 0x47) : QColor(0xb8, 0x5b, 0x00);
}

} // namespace quillmar
