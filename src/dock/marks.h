#pragma once

#include <QColor>
#include <QStringView>
#include <QTextCursor>

#include <optional>

namespace quillmar {

// A reading mark: the diamond, optionally followed at once by a "[label]" within its paragraph.
inline constexpr char16_t kMarkGlyph = u'\u25C6';
// What a new mark inserts; the cursor then sits between the brackets.
inline constexpr char16_t kNewMark[] = u"\u25C6[]";

// The columns [start, end) of the mark that holds or ends at column in one paragraph's text.
struct MarkSpan {
	int start = 0;
	int end = 0;
};

std::optional<MarkSpan> markSpanAt(QStringView paragraph, int column);
// The same in a document: a cursor selecting the mark at or ending at cursor's position, or a
// null cursor.
QTextCursor markAtCursor(const QTextCursor &cursor);

// Orange that reads on the dock's dark or light background.
QColor markColor(bool dark);

} // namespace quillmar
