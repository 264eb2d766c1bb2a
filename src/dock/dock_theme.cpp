#include "dock/dock_theme.h"

#include "dock/dock.h"
#include "dock/reading_band.h"
#include "editor/editor.h"
#include "icons/mono_icon.h"
#include "module/text.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>

namespace quillmar::theme {

namespace {

constexpr int MutedAlpha = 170;
constexpr int DarkThreshold = 128;

} // namespace

bool isDark(const QColor &background)
{
	return background.lightness() < DarkThreshold;
}

QString hexName(const QColor &colour)
{
	return colour.name(QColor::HexRgb);
}

QColor mutedTextColor(const QPalette &palette)
{
	QColor colour = palette.color(QPalette::WindowText);
	colour.setAlpha(MutedAlpha);
	return colour;
}

QString mutedText(const QPalette &palette)
{
	const QColor c = mutedTextColor(palette);
	return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

QColor lineColor(const QPalette &palette)
{
	const QColor text = palette.color(QPalette::WindowText);
	const QColor window = palette.color(QPalette::Window);
	return QColor((text.red() + 3 * window.red()) / 4, (text.green() + 3 * window.green()) / 4,
		      (text.blue() + 3 * window.blue()) / 4);
}

QString sceneLabelSheet(bool locked)
{
	return locked ? QStringLiteral("font-weight: bold; color: palette(highlight);")
		      : QStringLiteral("font-weight: bold;");
}

QString saveErrorSheet(bool dark)
{
	return dark ? QStringLiteral("QLabel { color: #ffd2cc; background: #4b2525; border: 1px solid #b96359; "
				     "border-radius: 3px; }")
		    : QStringLiteral("QLabel { color: #8c2520; background: #fff0ec; border: 1px solid #b96359; "
				     "border-radius: 3px; }");
}

QString editorSheet(const QPalette &palette, const QString &selectionText, const QString &selectionBackground)
{
	QString overrides;
	if (!selectionText.isEmpty())
		overrides += QStringLiteral("selection-color: ") + selectionText + QLatin1Char(';');
	if (!selectionBackground.isEmpty())
		overrides += QStringLiteral("selection-background-color: ") + selectionBackground + QLatin1Char(';');
	return QStringLiteral("QTextEdit { color: %2; %3 border: 1px solid palette(highlight); } "
			      "QTextEdit[readOnly=\"true\"], QTextEdit:disabled { border-color: palette(mid); } "
			      "QTextEdit[readOnly=\"true\"], QTextEdit:!focus { background-color: %1; } "
			      "QTextEdit[searchMatch=\"true\"] { selection-background-color: #fff200; "
			      "selection-color: #202126; }")
		.arg(hexName(palette.color(QPalette::Window).darker(115)),
		     hexName(palette.color(QPalette::WindowText)), overrides);
}

QString sliderSheet(const QPalette &palette)
{
	return QStringLiteral("QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: %1; } "
			      "QSlider::sub-page:horizontal { border-radius: 2px; background: %2; } "
			      "QSlider::handle:horizontal { width: 14px; margin: -3px 0; border-radius: 5px; "
			      "background: %2; } "
			      "QSlider::handle:horizontal:hover { background: %3; }")
		.arg(hexName(lineColor(palette)), isDark(palette.color(QPalette::Window)) ? QStringLiteral("#d8dce3") : QStringLiteral("#606975"),
		     hexName(palette.color(QPalette::Highlight)));
}

QString toolButtonSheet(const QPalette &palette)
{
	return QStringLiteral("QToolButton { min-width: %1px; max-width: %1px; min-height: %2px; max-height: %2px; "
			      "icon-size: %3px; padding: 0px; margin: 0px; border: 0px; border-radius: 3px; "
			      "background: transparent; } "
			      "QToolButton:checked { background: %4; } "
			      "QToolButton#readMode:checked { background: transparent; } "
			      "QToolButton:enabled:hover, QToolButton#readMode:enabled:hover { background: %5; } "
			      "QToolButton::menu-indicator { image: none; width: 0px; } "
			      "QToolButton#qt_toolbar_ext_button { min-width: 16px; max-width: 16px; }")
		.arg(ToolButtonWidth)
		.arg(ToolButtonHeight)
		.arg(ToolIconSize)
		.arg(hexName(palette.color(QPalette::Mid)), hexName(palette.color(QPalette::Button).lighter(120)));
}

QString toolBarSheet(const QPalette &palette)
{
	return QStringLiteral("QToolBar { border: 0px; padding: 0px; margin: 0px; spacing: 2px; } "
			      "QToolBar::separator { width: 1px; background: %1; margin: 6px 4px; } ")
		       .arg(hexName(lineColor(palette))) +
	       toolButtonSheet(palette);
}

QString separatorSheet(const QPalette &palette)
{
	return QStringLiteral("QFrame { border: 0px; background: %1; }").arg(hexName(lineColor(palette)));
}

QString searchFieldSheet(const QPalette &palette)
{
	return QStringLiteral("QLineEdit { min-height: 0px; padding: 2px 6px; placeholder-text-color: %1; } "
			      "QLineEdit QLabel { background: transparent; border: 0px; padding: 0px; color: %1; }")
		.arg(mutedText(palette));
}

QString countdownSheet(const QPalette &palette)
{
	return QStringLiteral("QCheckBox { padding: 0px; spacing: 3px; } "
			      "QCheckBox::indicator { width: 12px; height: 12px; border: 1px solid %1; "
			      "border-radius: 2px; background: %2; image: none; } "
			      "QCheckBox::indicator:checked { background: %3; border-color: %3; } "
			      "QCheckBox::indicator:hover { border-color: %3; }")
		.arg(mutedText(palette), hexName(palette.color(QPalette::Base)),
		     hexName(palette.color(QPalette::Highlight)));
}

} // namespace quillmar::theme

namespace quillmar {

namespace {

void setSheet(QWidget *widget, const QString &sheet)
{
	if (widget && widget->styleSheet() != sheet)
		widget->setStyleSheet(sheet);
}

void setIconKind(QToolButton *button, int kind, const QPalette &palette)
{
	if (!button)
		return;
	button->setProperty(IconProperty, kind);
	button->setIcon(monoIcon(kind, palette));
}

} // namespace

void Dock::applyTheme()
{
	// The theme can arrive through a palette change before construction has finished.
	if (!m_styled || !m_formatToolbar || !m_paragraphToolbar || !m_bottomControls)
		return;
	const QPalette pal = palette();
	applySceneLabelStyle();
	// Sheets that never change are set here too, so that none is set before the first show.
	setSheet(m_fontSize, QStringLiteral("QSpinBox { min-height: 0px; min-width: 0px; padding: 2px 6px; } "
					    "QSpinBox QLineEdit { background: transparent; border: 0px; "
					    "border-radius: 0px; padding: 0px; margin: 0px; min-height: 0px; "
					    "min-width: 0px; }"));
	setSheet(m_scrollSpeed,
		 QStringLiteral("QDoubleSpinBox { min-height: 0px; min-width: 0px; padding: 2px 6px; }"));
	for (QToolButton *button : {m_findPrevious, m_findNext, m_clearSearch})
		setSheet(button, QStringLiteral("QToolButton { min-width: 0px; min-height: 0px; padding: 0px; "
						"margin: 0px; border: 0px; background: transparent; } "
						"QToolButton:hover { background: palette(button); }"));
	setSheet(m_saveError, theme::saveErrorSheet(theme::isDark(pal.color(QPalette::Window))));
	applyEditorSheet();
	setSheet(m_scrollSlider, theme::sliderSheet(pal));

	const QString buttons = theme::toolButtonSheet(pal);
	for (QToolButton *button : {m_readModeButton, m_scrollPlay, m_scrollTop, m_readingGuideButton})
		setSheet(button, buttons);
	const QString bars = theme::toolBarSheet(pal);
	for (QToolBar *bar : {m_formatToolbar, m_paragraphToolbar}) {
		setSheet(bar, bars);
		for (QAction *action : bar->actions()) {
			const QVariant kind = action->property(IconProperty);
			if (kind.isValid())
				action->setIcon(monoIcon(kind.toInt(), pal));
		}
		if (auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"))) {
			setIconKind(more, IconMoreTools, pal);
			more->setToolTip(text("MoreTools"));
		}
	}

	const QString separators = theme::separatorSheet(pal);
	for (QFrame *frame : {m_speedStartSeparator, m_speedEndSeparator, m_characterSeparator, m_percentSeparator,
			      m_timeLeftSeparator})
		setSheet(frame, separators);

	const QColor muted = theme::mutedTextColor(pal);
	for (QLabel *label : {m_saveStatus, m_scenePrefix, m_documentStatus, m_characterCount, m_scrollPercent,
			      m_timeLeft}) {
		QPalette labelPalette = label->palette();
		if (labelPalette.color(QPalette::Active, QPalette::WindowText) == muted &&
		    labelPalette.color(QPalette::Disabled, QPalette::WindowText) == muted &&
		    labelPalette.color(QPalette::Inactive, QPalette::WindowText) == muted)
			continue;
		labelPalette.setColor(QPalette::All, QPalette::WindowText, muted);
		label->setPalette(labelPalette);
	}
	setSheet(m_searchText, theme::searchFieldSheet(pal));
	setSheet(m_startCountdown, theme::countdownSheet(pal));

	setIconKind(m_scrollPlay, m_scrollTimer.isActive() ? IconScrollPause : IconScrollPlay, pal);
	setIconKind(m_scrollTop, IconScrollTop, pal);
	setIconKind(m_listStyleButton, IconListStyle, pal);
	setIconKind(m_findPrevious, IconFindPrevious, pal);
	setIconKind(m_findNext, IconFindNext, pal);
	setIconKind(m_clearSearch, IconClearSearch, pal);
	m_readModeAction->setIcon(monoIcon(IconReadMode, pal));
	setIconKind(m_remoteQrButton, IconRemoteQr, pal);
	m_readingGuideAction->setIcon(monoIcon(IconReadingGuide, pal));
	m_readingBand->update();
}

void Dock::applyEditorSheet()
{
	setSheet(m_editor, theme::editorSheet(palette(), m_selectionTextColor, m_selectionBackgroundColor));
}

void Dock::dropSelectionColors()
{
	if (m_selectionTextColor.isEmpty() && m_selectionBackgroundColor.isEmpty())
		return;
	m_selectionTextColor.clear();
	m_selectionBackgroundColor.clear();
	applyEditorSheet();
}

} // namespace quillmar
