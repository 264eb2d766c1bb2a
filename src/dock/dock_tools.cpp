#include "dock/dock.h"
#include "dock/dock_theme.h"

#include "editor/editor.h"
#include "icons/mono_icon.h"
#include "module/text.h"

#include <QAction>
#include <QActionGroup>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTextListFormat>
#include <QToolBar>
#include <QToolButton>

namespace quillmar {

namespace {

QToolBar *toolBar(const char *name, QWidget *parent)
{
	auto *bar = new QToolBar(parent);
	bar->setObjectName(QLatin1String(name));
	bar->setMovable(false);
	bar->setFloatable(false);
	bar->setIconSize(QSize(theme::ToolIconSize, theme::ToolIconSize));
	return bar;
}

QToolButton *searchButton(const char *name, const char *tipKey, int icon, QWidget *parent)
{
	auto *button = new QToolButton(parent);
	button->setObjectName(QLatin1String(name));
	button->setToolTip(text(tipKey));
	button->setProperty(IconProperty, icon);
	button->setFixedSize(20, 20);
	button->setFocusPolicy(Qt::NoFocus);
	return button;
}

struct ListEntry {
	const char *key;
	const char *name;
	QTextListFormat::Style style;
};

const ListEntry ListEntries[] = {
	{"ListDisc", "listDisc", QTextListFormat::ListDisc},
	{"ListCircle", "listCircle", QTextListFormat::ListCircle},
	{"ListSquare", "listSquare", QTextListFormat::ListSquare},
	{"ListDecimal", "listDecimal", QTextListFormat::ListDecimal},
	{"ListLowerAlpha", "listLowerAlpha", QTextListFormat::ListLowerAlpha},
	{"ListUpperAlpha", "listUpperAlpha", QTextListFormat::ListUpperAlpha},
	{"ListLowerRoman", "listLowerRoman", QTextListFormat::ListLowerRoman},
	{"ListUpperRoman", "listUpperRoman", QTextListFormat::ListUpperRoman},
};

} // namespace

QAction *Dock::addTool(QToolBar *bar, const char *key, const char *name, int icon, bool checkable)
{
	auto *action = bar->addAction(text(key));
	action->setObjectName(QLatin1String(name));
	action->setToolTip(text(key));
	action->setCheckable(checkable);
	action->setProperty(IconProperty, icon);
	action->setIcon(monoIcon(icon, palette()));
	return action;
}

void Dock::buildFormatToolbar()
{
	QToolBar *bar = m_formatToolbar = toolBar("formatToolbar", this);
	addTool(bar, "Import", "importDocument", IconImport);
	addTool(bar, "Export", "exportDocument", IconExport);
	bar->addSeparator();
	addTool(bar, "FontMenu", "chooseFont", IconFont);
	m_fontSize = new QSpinBox(bar);
	m_fontSize->setObjectName(QStringLiteral("fontSize"));
	m_fontSize->setRange(6, 144);
	m_fontSize->setValue(12);
	m_fontSize->setToolTip(text("FontSizeTip"));
	// The box is sized for three digits; step arrows would hide them (wheel and arrow keys still step).
	m_fontSize->setButtonSymbols(QAbstractSpinBox::NoButtons);
	m_fontSize->setAlignment(Qt::AlignCenter);
	bar->addWidget(m_fontSize);
	bar->addSeparator();
	// Character styles answer their usual keys anywhere inside the dock.
	const std::pair<QAction *, QKeySequence::StandardKey> styles[] = {
		{addTool(bar, "Bold", "formatBold", IconBold, true), QKeySequence::Bold},
		{addTool(bar, "Italic", "formatItalic", IconItalic, true), QKeySequence::Italic},
		{addTool(bar, "Underline", "formatUnderline", IconUnderline, true), QKeySequence::Underline},
	};
	for (const auto &[action, key] : styles) {
		action->setShortcut(key);
		action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
		addAction(action);
	}
	addTool(bar, "Strikethrough", "formatStrike", IconStrikethrough, true);
	bar->addSeparator();
	addTool(bar, "TextColor", "textColor", IconTextColor);
	addTool(bar, "Highlight", "highlight", IconHighlight);
	addTool(bar, "ClearFormat", "clearFormat", IconClearFormat);
	addTool(bar, "FormatPainter", "formatPainter", IconFormatPainter, true);
	bar->addSeparator();
	addTool(bar, "InsertMark", "insertMark", IconInsertMark);
	addTool(bar, "NextMark", "nextMark", IconNextMark);
}

void Dock::buildParagraphToolbar()
{
	QToolBar *bar = m_paragraphToolbar = toolBar("paragraphToolbar", this);
	bar->addSeparator();
	m_alignmentGroup = new QActionGroup(bar);
	m_alignmentGroup->setExclusive(true);
	const std::pair<QAction *, Qt::Alignment> alignments[] = {
		{addTool(bar, "AlignLeft", "alignLeft", IconAlignLeft, true), Qt::AlignLeft},
		{addTool(bar, "AlignCenter", "alignCenter", IconAlignCenter, true), Qt::AlignHCenter},
		{addTool(bar, "AlignRight", "alignRight", IconAlignRight, true), Qt::AlignRight},
		{addTool(bar, "AlignJustify", "alignJustify", IconAlignJustify, true), Qt::AlignJustify},
	};
	for (const auto &[action, alignment] : alignments) {
		action->setProperty("paragraphAlignment", int(alignment));
		m_alignmentGroup->addAction(action);
	}
	bar->addSeparator();

	m_listStyleButton = new QToolButton(bar);
	m_listStyleButton->setObjectName(QStringLiteral("listStyle"));
	m_listStyleButton->setToolTip(text("ListStyle"));
	m_listStyleButton->setProperty(IconProperty, int(IconListStyle));
	m_listStyleButton->setPopupMode(QToolButton::InstantPopup);
	auto *menu = new QMenu(m_listStyleButton);
	menu->setObjectName(QStringLiteral("listStyleMenu"));
	for (const ListEntry &entry : ListEntries) {
		QAction *action = menu->addAction(text(entry.key));
		action->setObjectName(QLatin1String(entry.name));
		action->setData(int(entry.style));
	}
	menu->addSeparator();
	QAction *remove = menu->addAction(text("RemoveList"));
	remove->setObjectName(QStringLiteral("removeList"));
	remove->setData(0);
	m_listStyleButton->setMenu(menu);
	bar->addWidget(m_listStyleButton);

	addTool(bar, "DecreaseIndent", "decreaseIndent", IconDecreaseIndent);
	addTool(bar, "IncreaseIndent", "increaseIndent", IconIncreaseIndent);
	bar->addSeparator();
	addTool(bar, "InsertTime", "insertTime", IconInsertTime);
}

void Dock::buildSearchField()
{
	m_findAction = new QAction(text("Find"), this);
	m_findAction->setObjectName(QStringLiteral("findText"));
	m_findAction->setShortcut(QKeySequence::Find);
	m_findAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
	addAction(m_findAction);

	m_searchText = new QLineEdit(this);
	m_searchText->setObjectName(QStringLiteral("searchText"));
	m_searchText->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	m_searchText->setPlaceholderText(text("FindPlaceholder") + QStringLiteral(" (") +
					 QKeySequence(QKeySequence::Find).toString(QKeySequence::NativeText) +
					 QLatin1Char(')'));
	m_searchText->setAccessibleName(text("Find"));
	m_searchText->setToolTip(text("FindPlaceholder"));
	m_searchText->installEventFilter(this);

	auto *inner = new QHBoxLayout(m_searchText);
	inner->setContentsMargins(0, 0, 4, 0);
	inner->setSpacing(2);
	inner->addStretch(1);
	m_searchStatus = new QLabel(m_searchText);
	m_searchStatus->setObjectName(QStringLiteral("searchStatus"));
	m_searchStatus->setTextFormat(Qt::PlainText);
	m_searchStatus->hide();
	inner->addWidget(m_searchStatus);
	m_findPrevious = searchButton("findPrevious", "FindPrevious", IconFindPrevious, m_searchText);
	m_findNext = searchButton("findNext", "FindNext", IconFindNext, m_searchText);
	m_clearSearch = searchButton("clearSearch", "CloseSearch", IconClearSearch, m_searchText);
	m_clearSearch->hide();
	for (QToolButton *button : {m_findPrevious, m_findNext, m_clearSearch})
		inner->addWidget(button);
}

void Dock::updateToolEnabling()
{
	const bool enabled = m_editor->isEnabled();
	const bool editable = enabled && !m_editor->isReadOnly();
	if (!editable)
		setFormatPainter(false);
	m_findAction->setEnabled(enabled);
	m_searchText->setEnabled(enabled);
	m_formatToolbar->setEnabled(enabled);
	m_paragraphToolbar->setEnabled(editable);
	// A broken note may still be replaced by an import, unless the reader or a remote holds it.
	const bool importAllowed = editable || (m_loadError && !m_locked && !m_remoteEditing);
	for (QAction *action : m_formatToolbar->actions()) {
		const QString name = action->objectName();
		if (name == QLatin1String("exportDocument") || name == QLatin1String("nextMark"))
			action->setEnabled(true);
		else if (name == QLatin1String("importDocument"))
			action->setEnabled(importAllowed);
		else
			action->setEnabled(editable);
	}
}

} // namespace quillmar
