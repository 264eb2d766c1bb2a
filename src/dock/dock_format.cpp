// Formatting tools and marks.
#include "dock/dock.h"

#include "dock/dock_theme.h"
#include "dock/marks.h"
#include "documents/blocks_model.h"
#include "editor/editor.h"
#include "module/text.h"

#include <QAction>
#include <QActionGroup>
#include <QColorDialog>
#include <QDateTime>
#include <QFontDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextList>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace quillmar {

namespace {

constexpr int kBoldWeight = 700;
constexpr int kNormalWeight = 400;

QString brushColorName(const QBrush &brush)
{
	return brush.style() == Qt::NoBrush ? QString() : brush.color().name();
}

bool repeatsPainter(int key)
{
	switch (key) {
	case Qt::Key_Shift:
	case Qt::Key_Home:
	case Qt::Key_End:
	case Qt::Key_Left:
	case Qt::Key_Right:
	case Qt::Key_Up:
	case Qt::Key_Down:
		return true;
	default:
		return false;
	}
}

} // namespace

void Dock::connectFormatTools()
{
	const auto tool = [](QToolBar *bar, const char *name) {
		return bar->findChild<QAction *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
	};
	m_boldAction = tool(m_formatToolbar, "formatBold");
	m_italicAction = tool(m_formatToolbar, "formatItalic");
	m_underlineAction = tool(m_formatToolbar, "formatUnderline");
	m_strikeAction = tool(m_formatToolbar, "formatStrike");
	m_formatPainterAction = tool(m_formatToolbar, "formatPainter");

	const auto style = [this](QAction *action, auto apply) {
		connect(action, &QAction::triggered, this, [this, apply](bool checked) {
			QTextCharFormat format;
			apply(format, checked);
			applyCharFormat(format);
		});
	};
	style(m_boldAction, [](QTextCharFormat &f, bool on) { f.setFontWeight(on ? kBoldWeight : kNormalWeight); });
	style(m_italicAction, [](QTextCharFormat &f, bool on) { f.setFontItalic(on); });
	style(m_underlineAction, [](QTextCharFormat &f, bool on) {
		f.setUnderlineStyle(on ? QTextCharFormat::SingleUnderline : QTextCharFormat::NoUnderline);
	});
	style(m_strikeAction, [](QTextCharFormat &f, bool on) { f.setFontStrikeOut(on); });

	// Applied when the size is committed, so that typing "14" does not first apply 1 and then
	// hand the focus to the editor before the second digit.
	m_fontSize->setKeyboardTracking(false);
	connect(m_fontSize, &QSpinBox::valueChanged, this, [this](int size) {
		QTextCharFormat format;
		format.setFontPointSize(size);
		applyCharFormat(format);
	});
	connect(m_fontSize, &QSpinBox::editingFinished, this, [this] {
		QTimer::singleShot(0, m_fontSize, [this] {
			if (!m_fontSize->hasFocus())
				if (auto *line = m_fontSize->findChild<QLineEdit *>())
					line->deselect();
		});
	});

	connect(tool(m_formatToolbar, "chooseFont"), &QAction::triggered, this, [this] {
		bool accepted = false;
		const QFont font = QFontDialog::getFont(&accepted, m_editor->currentFont(), this, text("Font"));
		if (!accepted)
			return;
		QTextCharFormat format;
		format.setFont(font, QTextCharFormat::FontPropertiesAll);
		applyCharFormat(format);
	});
	const auto colourTool = [this, tool](const char *name, const char *title, QColor (QTextEdit::*current)() const,
				       void (QTextFormat::*set)(const QBrush &)) {
		connect(tool(m_formatToolbar, name), &QAction::triggered, this, [this, title, current, set] {
			const QColor colour = QColorDialog::getColor((m_editor->*current)(), this, text(title));
			if (!colour.isValid())
				return;
			QTextCharFormat format;
			(format.*set)(QBrush(colour));
			applyCharFormat(format);
		});
	};
	colourTool("textColor", "TextColor", &QTextEdit::textColor, &QTextFormat::setForeground);
	colourTool("highlight", "Highlight", &QTextEdit::textBackgroundColor, &QTextFormat::setBackground);
	connect(tool(m_formatToolbar, "clearFormat"), &QAction::triggered, this, &Dock::clearFormatting);
	connect(m_formatPainterAction, &QAction::triggered, this, [this](bool checked) { setFormatPainter(checked); });
	if (QWidget *painterButton = m_formatToolbar->widgetForAction(m_formatPainterAction))
		painterButton->installEventFilter(this);
	connect(tool(m_formatToolbar, "insertMark"), &QAction::triggered, this, &Dock::insertMark);
	connect(tool(m_formatToolbar, "nextMark"), &QAction::triggered, this, &Dock::goToNextMark);

	for (QAction *action : m_alignmentGroup->actions())
		connect(action, &QAction::triggered, this, [this, action] {
			if (m_editor->isEnabled() && !m_editor->isReadOnly())
				m_editor->setAlignment(Qt::Alignment(action->property("paragraphAlignment").toInt()));
			syncFormatControls();
		});
	connect(m_listStyleButton->menu(), &QMenu::triggered, this,
		[this](QAction *action) { setListStyle(action->data().toInt()); });
	connect(tool(m_paragraphToolbar, "decreaseIndent"), &QAction::triggered, this, [this] { changeIndent(-1); });
	connect(tool(m_paragraphToolbar, "increaseIndent"), &QAction::triggered, this, [this] { changeIndent(1); });
	connect(tool(m_paragraphToolbar, "insertTime"), &QAction::triggered, this, &Dock::insertTime);
}

bool Dock::filterFormatEvent(QObject *watched, QEvent *event)
{
	const QEvent::Type type = event->type();
	const bool painting = m_formatPainterAction && m_formatPainterAction->isChecked();
	if (type == QEvent::MouseButtonDblClick && m_formatPainterAction &&
	    watched == m_formatToolbar->widgetForAction(m_formatPainterAction)) {
		setFormatPainter(true, true);
		return true;
	}
	if (!m_editor)
		return false;
	if (painting && watched == m_editor->viewport() && type == QEvent::MouseButtonRelease &&
	    static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
		QTimer::singleShot(0, this, &Dock::applyFormatPainter);
		return false;
	}
	if (watched != m_editor)
		return false;
	if (painting && type == QEvent::KeyRelease && repeatsPainter(static_cast<QKeyEvent *>(event)->key())) {
		QTimer::singleShot(0, this, &Dock::applyFormatPainter);
		return false;
	}
	if (type != QEvent::KeyPress)
		return false;
	const auto *key = static_cast<QKeyEvent *>(event);
	if (painting && key->key() == Qt::Key_Escape) {
		setFormatPainter(false);
		return true;
	}
	return key->key() == Qt::Key_Backspace && key->modifiers() == Qt::NoModifier && deleteMarkBeforeCursor();
}

void Dock::applyCharFormat(const QTextCharFormat &format)
{
	if (!m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	setFormatPainter(false);
	m_editor->mergeCurrentCharFormat(format);
	if (m_editor->textCursor().hasSelection() &&
	    (format.hasProperty(QTextFormat::ForegroundBrush) || format.hasProperty(QTextFormat::BackgroundBrush))) {
		m_selectionTextColor = brushColorName(format.foreground());
		m_selectionBackgroundColor = brushColorName(format.background());
		applyEditorSheet();
	}
	m_editor->setFocus();
	syncFormatControls();
}

void Dock::clearFormatting()
{
	if (!m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	QTextCursor cursor = m_editor->textCursor();
	if (!cursor.hasSelection())
		cursor.select(QTextCursor::Document);
	QTextDocument *document = m_editor->document();
	const QTextBlock first = document->findBlock(cursor.selectionStart());
	const QTextBlock last = document->findBlock(std::max(cursor.selectionStart(), cursor.selectionEnd() - 1));
	QTextBlockFormat plain;
	plain.setLineHeight(kDefaultLineHeight, QTextBlockFormat::ProportionalHeight);

	cursor.beginEditBlock();
	cursor.setCharFormat(QTextCharFormat());
	for (QTextBlock block = first; block.isValid() && block.blockNumber() <= last.blockNumber();
	     block = block.next()) {
		if (QTextList *list = block.textList())
			list->remove(block);
		QTextCursor(block).setBlockFormat(plain);
	}
	cursor.endEditBlock();

	dropSelectionColors();
	syncFormatControls();
}

void Dock::setFormatPainter(bool on, bool continuous)
{
	if (!m_formatPainterAction)
		return;
	const bool arm = on && m_editor->isEnabled() && !m_editor->isReadOnly();
	if (arm) {
		m_painterContinuous = continuous;
		if (m_capturedFormat.propertyCount() == 0) {
			const QTextCharFormat current = m_editor->currentCharFormat();
			m_capturedFormat.setFont(m_editor->currentFont(), QTextCharFormat::FontPropertiesAll);
			// An absent brush is kept as an empty one, so that painting removes colour.
			m_capturedFormat.setForeground(current.foreground());
			m_capturedFormat.setBackground(current.background());
		}
		m_editor->viewport()->setCursor(Qt::CrossCursor);
		m_editor->setFocus();
	} else {
		m_painterContinuous = false;
		if (m_capturedFormat.propertyCount() != 0) {
			m_capturedFormat = QTextCharFormat();
			m_editor->viewport()->setCursor(Qt::IBeamCursor);
		}
	}
	const QSignalBlocker blocker(m_formatPainterAction);
	m_formatPainterAction->setChecked(arm);
	m_formatPainterAction->setToolTip(text(arm && m_painterContinuous ? "FormatPainterContinuous" : "FormatPainter"));
}

void Dock::applyFormatPainter()
{
	if (!m_formatPainterAction->isChecked() || !m_editor->textCursor().hasSelection())
		return;
	const QTextCharFormat captured = m_capturedFormat;
	const bool continuous = m_painterContinuous;
	applyCharFormat(captured);
	if (continuous) {
		m_capturedFormat = captured;
		setFormatPainter(true, true);
	}
}

void Dock::syncFormatControls()
{
	if (!m_boldAction)
		return;
	const QTextCharFormat format = m_editor->currentCharFormat();
	{
		const QSignalBlocker bold(m_boldAction);
		const QSignalBlocker italic(m_italicAction);
		const QSignalBlocker underline(m_underlineAction);
		const QSignalBlocker strike(m_strikeAction);
		const QSignalBlocker size(m_fontSize);
		m_boldAction->setChecked(format.fontWeight() > 699);
		m_italicAction->setChecked(format.fontItalic());
		m_underlineAction->setChecked(format.fontUnderline());
		m_strikeAction->setChecked(format.fontStrikeOut());
		const qreal points = format.fontPointSize() > 0 ? format.fontPointSize() : m_editor->font().pointSizeF();
		m_fontSize->setValue(std::clamp(int(std::lround(points)), kMinPointSize, kMaxPointSize));
	}
	const int alignment = int(m_editor->alignment());
	for (QAction *action : m_alignmentGroup->actions())
		action->setChecked(action->property("paragraphAlignment").toInt() & alignment);
}

void Dock::setListStyle(int style)
{
	if (!m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	QTextCursor cursor = m_editor->textCursor();
	QTextDocument *document = m_editor->document();
	cursor.beginEditBlock();
	if (style == 0) {
		const QTextBlock first = document->findBlock(cursor.selectionStart());
		const QTextBlock last = cursor.hasSelection() ? document->findBlock(cursor.selectionEnd() - 1) : cursor.block();
		for (QTextBlock block = first; block.isValid() && block.blockNumber() <= last.blockNumber();
		     block = block.next())
			if (QTextList *list = block.textList())
				list->remove(block);
	} else {
		QTextListFormat format;
		format.setStyle(QTextListFormat::Style(style));
		format.setIndent(cursor.currentList() ? cursor.currentList()->format().indent() : 1);
		cursor.createList(format);
	}
	cursor.endEditBlock();
	m_editor->setFocus();
	syncFormatControls();
}

void Dock::changeIndent(int delta)
{
	if (!m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	QTextCursor cursor = m_editor->textCursor();
	if (QTextList *list = cursor.currentList()) {
		QTextListFormat format = list->format();
		const int indent = format.indent() + delta;
		if (indent > 0) {
			// At the deepest level nothing changes; a new list would restart the numbering.
			if (std::min(indent, blocks::kMaxIndent) == format.indent())
				return;
			format.setIndent(std::min(indent, blocks::kMaxIndent));
			cursor.beginEditBlock();
			cursor.createList(format);
			cursor.endEditBlock();
		} else {
			cursor.beginEditBlock();
			list->remove(cursor.block());
			cursor.endEditBlock();
		}
	} else {
		QTextBlockFormat format;
		format.setIndent(std::clamp(cursor.blockFormat().indent() + delta, 0, blocks::kMaxIndent));
		cursor.beginEditBlock();
		cursor.mergeBlockFormat(format);
		cursor.endEditBlock();
	}
	m_editor->setFocus();
}

void Dock::insertTime()
{
	if (m_restoring || m_closing || !m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	m_editor->checkedInsertPlainText(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")));
}

QColor Dock::currentMarkColor() const
{
	return markColor(theme::isDark(palette().color(QPalette::Window)));
}

void Dock::insertMark()
{
	if (m_restoring || m_closing || !m_editor->isEnabled() || m_editor->isReadOnly())
		return;
	QTextCursor cursor = m_editor->textCursor();
	cursor.clearSelection();
	const QString mark = QString::fromUtf16(kNewMark);
	if (!m_editor->checkInsertion(cursor, mark))
		return;
	QTextCharFormat format = cursor.charFormat();
	format.setForeground(currentMarkColor());
	cursor.beginEditBlock();
	cursor.insertText(mark, format);
	cursor.endEditBlock();
	cursor.movePosition(QTextCursor::PreviousCharacter);
	m_editor->setTextCursor(cursor);
	m_editor->setCurrentCharFormat(format);
	m_editor->setFocus();
}

void Dock::goToNextMark()
{
	if (m_restoring || m_closing || !m_editor->isEnabled())
		return;
	m_searchText->setText(QString(QChar(kMarkGlyph)));
	m_searchTimer.stop();
	m_searchTextChanged = false;
	m_markSearch = true;
	findMatch(false);
	m_editor->setFocus();
}

bool Dock::deleteMarkBeforeCursor()
{
	QTextCursor cursor = m_editor->textCursor();
	if (!m_editor->isEnabled() || m_editor->isReadOnly() || cursor.hasSelection())
		return false;
	QTextCursor mark = markAtCursor(cursor);
	if (mark.isNull() || mark.selectionEnd() != cursor.position())
		return false;
	if (m_editor->checkInsertion(mark, QString())) {
		mark.beginEditBlock();
		mark.removeSelectedText();
		mark.endEditBlock();
		m_editor->setTextCursor(mark);
	}
	return true;
}

void Dock::syncMarkTypingColor()
{
	const QTextCursor cursor = m_editor->textCursor();
	if (!m_editor->isEnabled() || m_editor->isReadOnly() || cursor.hasSelection())
		return;
	const QTextCursor mark = markAtCursor(cursor);
	if (mark.isNull() || mark.selectionEnd() - mark.selectionStart() < 3)
		return;

	const QTextCharFormat typing = m_editor->currentCharFormat();
	QTextCharFormat next = typing;
	const int position = cursor.position();
	if (position > mark.selectionStart() && position < mark.selectionEnd()) {
		next.setForeground(currentMarkColor());
	} else {
		// Typing next to a mark continues the text around it, not the mark.
		const QTextBlock block = cursor.block();
		const int blockEnd = block.position() + block.length() - 1;
		int neighbour = -1;
		if (mark.selectionEnd() < blockEnd)
			neighbour = mark.selectionEnd();
		else if (mark.selectionStart() > block.position())
			neighbour = mark.selectionStart() - 1;
		QTextCharFormat around;
		if (neighbour >= 0) {
			QTextCursor at(cursor);
			at.setPosition(neighbour + 1);
			around = at.charFormat();
		}
		if (around.hasProperty(QTextFormat::ForegroundBrush))
			next.setForeground(around.foreground());
		else
			next.clearForeground();
	}
	if (next != typing)
		m_editor->setCurrentCharFormat(next);
}

} // namespace quillmar
