#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

// Style sheets of the dock's widgets, derived from the palette alone so that they can be
// rebuilt whenever the host switches between light and dark themes.
namespace quillmar::theme {

// Control metrics shared by the dock's tool buttons and both tool bars.
inline constexpr int ToolButtonWidth = 28;
inline constexpr int ToolButtonHeight = 24;
inline constexpr int ToolIconSize = 18;

// Whether a background colour is dark: lightness below 128; 128 itself counts as light. The dock
// judges its window colour, the reading band the base colour it is drawn on.
bool isDark(const QColor &background);

// "#rrggbb".
QString hexName(const QColor &colour);
// Window text at alpha 170, as "rgba(r, g, b, a)".
QString mutedText(const QPalette &palette);
QColor mutedTextColor(const QPalette &palette);
// A quarter window text, three quarters window: hairlines that stay visible in both themes.
QColor lineColor(const QPalette &palette);

QString sceneLabelSheet(bool locked);
QString saveErrorSheet(bool dark);
// selectionText and selectionBackground are "#rrggbb" names or empty.
QString editorSheet(const QPalette &palette, const QString &selectionText, const QString &selectionBackground);
QString sliderSheet(const QPalette &palette);
QString toolButtonSheet(const QPalette &palette);
QString toolBarSheet(const QPalette &palette);
QString separatorSheet(const QPalette &palette);
QString searchFieldSheet(const QPalette &palette);
// The "3s" check box draws its own indicator: host themes paint theirs dark on dark.
QString countdownSheet(const QPalette &palette);

} // namespace quillmar::theme
