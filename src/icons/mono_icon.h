#pragma once

#include <QIcon>
#include <QPalette>

namespace quillmar {

// Icon kinds painted by monoIcon(); the values are stable because actions carry them.
enum IconKind : int {
	IconImport = 0,
	IconExport = 1,
	IconFont = 2,
	IconBold = 3,
	IconItalic = 4,
	IconUnderline = 5,
	IconTextColor = 6,
	IconHighlight = 7,
	IconClearFormat = 8,
	IconAlignLeft = 9,
	IconAlignCenter = 10,
	IconAlignRight = 11,
	IconAlignJustify = 12,
	IconDecreaseIndent = 13,
	IconIncreaseIndent = 14,
	IconInsertTime = 15,
	IconListStyle = 16,
	IconScrollPlay = 17,
	IconScrollPause = 18,
	IconScrollTop = 19,
	IconReadMode = 20,
	IconReadingGuide = 21,
	IconMoreTools = 22,
	IconFindPrevious = 23,
	IconFindNext = 24,
	IconClearSearch = 25,
	IconRemoteQr = 26,
	IconInsertMark = 27,
	IconNextMark = 28,
	IconStrikethrough = 29,
	IconFormatPainter = 30,
	IconKindCount = 31,
};

// Dynamic property holding an action's or button's icon kind, so a theme change can repaint it.
inline constexpr char IconProperty[] = "quillmarIcon";

// A monochrome line drawing of the given kind in the palette's active window-text colour.
// Unknown kinds give an icon that paints nothing.
QIcon monoIcon(int kind, const QPalette &palette);

} // namespace quillmar
