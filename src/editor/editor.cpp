#include "editor/editor.h"

#include "documents/note_document.h"
#include "module/text.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextList>
#include <QWheelEvent>

#include <algorithm>
#include <memory>
#include <vector>

namespace quillmar {

namespace {

constexpr qreal kMinZoomPoints = kMinPointSize;
constexpr qreal kMaxZoomPoints = kMaxPointSize;
constexpr int kWheelStep = 120;
constexpr int kQrMargin = 28;
constexpr int kGutterPadding = 14;
constexpr int kGutterRightGap = 7;
constexpr int kNumberAlpha = 170;

// Only counts and raw text are read, so the scratch document needs neither layout nor undo.
void makeScratch(QTextDocument &document)
{
	document.setUndoRedoEnabled(false);
	document.setLayoutEnabled(false);
}

qreal pointSizeOf(const QFont &font, int logicalDpiY)
{
	if (font.pointSizeF() > 0)
		return font.pointSizeF();
	return font.pixelSize() * 72.0 / logicalDpiY;
}

qreal zoomed(qreal size, int points)
{
	return std::clamp(size + points, kMinZoomPoints, kMaxZoomPoints);
}

// The text a pasted or dropped document adds, as the limit check reads it.
QString insertedText(const QTextDocument &scratch)
{
	QString text = scratch.toRawText();
	// A list at the head of a fragment starts a paragraph of its own unless the cursor already
	// sits in a list; counting the break always is safe.
	if (scratch.begin().textList())
		text.prepend(QChar::ParagraphSeparator);
	return text;
}

// Whether the text control would insert the key's text. Ctrl and Ctrl+Shift are shortcuts, but
// Ctrl+Alt is AltGr, and Meta or keypad combinations with printable text type as well.
bool typesText(const QKeyEvent *e)
{
	const QString text = e->text();
	if (text.isEmpty())
		return false;
	const QChar first = text.front();
	if (first.category() == QChar::Other_Format)
		return true;
	const Qt::KeyboardModifiers mods = e->modifiers();
	if (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))
		return false;
	return first.isPrint() || first.category() == QChar::Other_PrivateUse || first == u'\t' ||
	       (first.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate());
}

int decimalDigits(int n)
{
	int digits = 1;
	for (; n >= 10; n /= 10)
		++digits;
	return digits;
}

} // namespace

Editor::Editor(QWidget *parent) : QTextEdit(parent)
{
	// Before anything else touches the document: the text edit's own one would read files.
	setDocument(new NoteDocument(this));
	// As the text edit prepares its own: no layout until shown, the view's metrics, its font.
	document()->setPageSize(QSizeF(0, 0));
	document()->documentLayout()->setPaintDevice(viewport());
	document()->setDefaultFont(font());
	document()->setDefaultStyleSheet(QStringLiteral("p, li { line-height: 140%; }"));
	setNoteHtml(QString());
	setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

	m_gutter = new QWidget(this);
	m_gutter->setObjectName(QStringLiteral("lineNumbers"));
	m_gutter->setAccessibleName(text("LineNumbers"));
	m_gutter->setAttribute(Qt::WA_TransparentForMouseEvents);
	m_gutter->setAttribute(Qt::WA_OpaquePaintEvent);
	m_gutter->installEventFilter(this);

	const auto repaintGutter = [gutter = m_gutter] { gutter->update(); };
	connect(document(), &QTextDocument::blockCountChanged, this, &Editor::updateGutterWidth);
	connect(document(), &QTextDocument::contentsChanged, m_gutter, repaintGutter);
	connect(document()->documentLayout(), &QAbstractTextDocumentLayout::update, m_gutter, repaintGutter);
	connect(verticalScrollBar(), &QScrollBar::valueChanged, m_gutter, repaintGutter);
	connect(this, &QTextEdit::cursorPositionChanged, m_gutter, repaintGutter);
	updateGutterWidth();
}

Editor::~Editor()
{
	m_limitHandler = nullptr;
	// The document outlives this part of the object; keep it from calling back into it.
	disconnect(document(), nullptr, this, nullptr);
	delete m_gutter;
	m_gutter = nullptr;
}

void Editor::setLimitHandler(LimitHandler handler)
{
	m_limitHandler = std::move(handler);
}

void Editor::refuse()
{
	if (m_limitHandler)
		m_limitHandler();
}

bool Editor::checkInsertion(const QTextCursor &cursor, const QString &text)
{
	const QTextDocument *doc = cursor.document() ? cursor.document() : document();
	const int start = cursor.selectionStart();
	// Removing a selection across table cells only empties the cells: credit nothing for it.
	const int end = cursor.hasComplexSelection() ? start : cursor.selectionEnd();
	if (insertionFitsNoteLimits(*doc, start, end, text))
		return true;
	refuse();
	return false;
}

void Editor::applyDefaultLineHeight()
{
	QTextDocument *doc = document();
	if (!doc->isEmpty())
		return;
	QTextCursor cursor = textCursor();
	QTextBlockFormat format = cursor.blockFormat();
	if (format.hasProperty(QTextFormat::LineHeight))
		return;
	format.setLineHeight(kDefaultLineHeight, QTextBlockFormat::ProportionalHeight);
	const bool undo = doc->isUndoRedoEnabled();
	const bool modified = doc->isModified();
	doc->setUndoRedoEnabled(false);
	cursor.setBlockFormat(format);
	doc->setUndoRedoEnabled(undo);
	doc->setModified(modified);
}

void Editor::setNoteHtml(const QString &html)
{
	setHtml(html);
	applyDefaultLineHeight();
}

void Editor::zoomBy(int points)
{
	struct Change {
		int position;
		int length;
		QTextCharFormat format;
	};
	QTextDocument *doc = document();
	const QFont base = doc->defaultFont();
	const int dpi = logicalDpiY();
	std::vector<Change> changes;
	for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
		for (auto it = block.begin(); !it.atEnd(); ++it) {
			const QTextFragment fragment = it.fragment();
			if (!fragment.isValid())
				continue;
			const QTextCharFormat format = fragment.charFormat();
			QTextCharFormat next = format;
			next.clearProperty(QTextFormat::FontPixelSize);
			next.setFontPointSize(zoomed(pointSizeOf(format.font().resolve(base), dpi), points));
			if (next != format)
				changes.push_back({fragment.position(), fragment.length(), next});
		}
	}
	if (changes.empty()) {
		if (doc->isEmpty())
			setFontPointSize(zoomed(pointSizeOf(currentFont(), dpi), points));
		return;
	}
	QTextCursor cursor(doc);
	cursor.beginEditBlock();
	for (const Change &change : changes) {
		cursor.setPosition(change.position);
		cursor.setPosition(change.position + change.length, QTextCursor::KeepAnchor);
		cursor.setCharFormat(change.format);
	}
	cursor.endEditBlock();
}

void Editor::setSearchMatch(bool match)
{
	if (match == m_searchMatch)
		return;
	m_searchMatch = match;
	setProperty("searchMatch", match);
	style()->unpolish(this);
	style()->polish(this);
	viewport()->update();
}

void Editor::setQrMargin(bool shown)
{
	QMargins margins = viewportMargins();
	const int right = shown ? kQrMargin : 0;
	if (margins.right() == right)
		return;
	margins.setRight(right);
	setViewportMargins(margins);
	updateGutterWidth();
}

bool Editor::checkedCut()
{
	if (isReadOnly() || !textCursor().hasSelection() || !checkInsertion(textCursor(), QString()))
		return false;
	cut();
	return true;
}

bool Editor::checkedDelete()
{
	QTextCursor cursor = textCursor();
	if (isReadOnly() || !cursor.hasSelection() || !checkInsertion(cursor, QString()))
		return false;
	cursor.removeSelectedText();
	setTextCursor(cursor);
	return true;
}

bool Editor::checkedInsertPlainText(const QString &text)
{
	const QString normalized = normalizeLineEnds(text);
	if (isReadOnly() || !checkInsertion(textCursor(), normalized))
		return false;
	insertPlainText(normalized);
	return true;
}

void Editor::keyPressEvent(QKeyEvent *e)
{
	if (isReadOnly()) {
		QTextEdit::keyPressEvent(e);
		return;
	}
	QTextCursor cursor = textCursor();

	if (e->matches(QKeySequence::Cut)) {
		if (cursor.hasSelection() && checkInsertion(cursor, QString()))
			cut();
		e->accept();
		return;
	}
	if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo)) {
		QTextEdit::keyPressEvent(e);
		return;
	}

	const int key = e->key();
	const bool toEndOfLine = e->matches(QKeySequence::DeleteEndOfLine);
	const bool toEndOfWord = e->matches(QKeySequence::DeleteEndOfWord);
	const bool toStartOfWord = e->matches(QKeySequence::DeleteStartOfWord);
	const bool backspace = key == Qt::Key_Backspace || e->matches(QKeySequence::Backspace);
	const bool deleting = backspace || key == Qt::Key_Delete || e->matches(QKeySequence::Delete) ||
			      toEndOfLine || toEndOfWord || toStartOfWord;
	QString inserted;
	if (deleting) {
		if (!cursor.hasSelection()) {
			QTextCursor::MoveOperation move = QTextCursor::NextCharacter;
			if (toEndOfLine)
				move = QTextCursor::EndOfBlock;
			else if (toEndOfWord)
				move = QTextCursor::NextWord;
			else if (toStartOfWord)
				move = QTextCursor::PreviousWord;
			else if (backspace)
				move = QTextCursor::PreviousCharacter;
			cursor.movePosition(move, QTextCursor::KeepAnchor);
			// At the end of a paragraph the key joins the next one.
			if (!cursor.hasSelection() && toEndOfLine)
				cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
		}
	} else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
		inserted = (e->modifiers() & Qt::ShiftModifier) ? QString(QChar::LineSeparator) : QStringLiteral("\n");
	} else if (typesText(e)) {
		inserted = e->text();
	} else {
		QTextEdit::keyPressEvent(e);
		return;
	}

	if (!checkInsertion(cursor, inserted)) {
		e->accept();
		return;
	}
	QTextEdit::keyPressEvent(e);
}

void Editor::insertFromMimeData(const QMimeData *source)
{
	if (isReadOnly() || !source)
		return;
	QTextCursor cursor = textCursor();
	if (source->hasHtml() && acceptRichText()) {
		// The plain alternative is cheap to check and spares parsing a hopeless paste.
		if (source->hasText() && !checkInsertion(cursor, normalizeLineEnds(source->text())))
			return;
		const QTextDocumentFragment fragment = QTextDocumentFragment::fromHtml(source->html(), document());
		NoteDocument scratch;
		makeScratch(scratch);
		QTextCursor(&scratch).insertFragment(fragment);
		if (!fitsNoteLimits(scratch)) {
			refuse();
			return;
		}
		if (!checkInsertion(cursor, insertedText(scratch)))
			return;
		cursor.insertFragment(fragment);
		setTextCursor(cursor);
		ensureCursorVisible();
		return;
	}
	const QString text = normalizeLineEnds(source->text());
	if (checkInsertion(cursor, text))
		insertPlainText(text);
}

void Editor::dropEvent(QDropEvent *e)
{
	const QMimeData *data = e->mimeData();
	if (isReadOnly() || !data) {
		QTextEdit::dropEvent(e);
		return;
	}
	const QTextCursor at = cursorForPosition(e->position().toPoint());
	NoteDocument scratch;
	makeScratch(scratch);
	if (data->hasHtml() && acceptRichText())
		scratch.setHtml(data->html());
	else
		scratch.setPlainText(data->text());
	// Content that could never fit is refused without a message.
	if (!fitsNoteLimits(scratch) || !checkInsertion(at, insertedText(scratch))) {
		e->ignore();
		return;
	}
	QTextEdit::dropEvent(e);
}

void Editor::inputMethodEvent(QInputMethodEvent *e)
{
	if (isReadOnly()) {
		QTextEdit::inputMethodEvent(e);
		return;
	}
	const QString commit = e->commitString();
	const int replaceFrom = e->replacementStart();
	const int replaceLength = e->replacementLength();
	const bool replaces = replaceFrom != 0 || replaceLength != 0;

	QTextCursor cursor = textCursor();
	std::unique_ptr<QTextDocument> clone;
	if (cursor.hasSelection() && replaces) {
		// The widget removes the selection before it applies the replacement range.
		clone.reset(document()->clone());
		makeScratch(*clone);
		QTextCursor inClone(clone.get());
		inClone.setPosition(cursor.selectionStart());
		inClone.setPosition(cursor.selectionEnd(), QTextCursor::KeepAnchor);
		inClone.removeSelectedText();
		cursor = inClone;
	}
	if (replaces) {
		const int last = cursor.document()->characterCount() - 1;
		const int from = cursor.selectionStart() + replaceFrom;
		cursor.setPosition(qBound(0, from, last));
		cursor.setPosition(qBound(0, from + replaceLength, last), QTextCursor::KeepAnchor);
	}

	bool fits = true;
	if (clone) {
		cursor.insertText(commit);
		fits = fitsNoteLimits(*clone);
		if (!fits)
			refuse();
	} else if (!commit.isEmpty() || replaceLength != 0 || cursor.hasSelection()) {
		// Composition over a selection deletes it, which may join paragraphs.
		fits = checkInsertion(cursor, commit);
	}
	if (fits) {
		QTextEdit::inputMethodEvent(e);
		return;
	}
	QInputMethodEvent end;
	QTextEdit::inputMethodEvent(&end);
	e->accept();
}

void Editor::wheelEvent(QWheelEvent *e)
{
	if (e->modifiers() != Qt::ControlModifier) {
		m_wheelRemainder = 0;
		QTextEdit::wheelEvent(e);
		return;
	}
	if (!isReadOnly()) {
		const qint64 total = qint64(m_wheelRemainder) + e->angleDelta().y();
		const qint64 steps = total / kWheelStep;
		m_wheelRemainder = qint32(total - steps * kWheelStep);
		if (steps != 0)
			zoomBy(int(std::clamp<qint64>(steps, -kMaxZoomPoints, kMaxZoomPoints)));
	}
	e->accept();
}

void Editor::resizeEvent(QResizeEvent *e)
{
	QTextEdit::resizeEvent(e);
	updateGutterWidth();
}

void Editor::changeEvent(QEvent *e)
{
	if (m_restyling && e->type() == QEvent::FontChange) {
		e->accept();
		return;
	}
	QTextEdit::changeEvent(e);
	switch (e->type()) {
	case QEvent::ApplicationPaletteChange:
	case QEvent::PaletteChange:
	case QEvent::FontChange:
	case QEvent::EnabledChange:
	case QEvent::StyleChange:
		if (!m_restyling)
			updateGutterWidth();
		break;
	default:
		break;
	}
}

bool Editor::event(QEvent *e)
{
	const QEvent::Type type = e->type();
	if (type != QEvent::FocusIn && type != QEvent::FocusOut && type != QEvent::ReadOnlyChange)
		return QTextEdit::event(e);
	const bool handled = QTextEdit::event(e);
	if (type == QEvent::ReadOnlyChange) {
		// Rules on [readOnly="true"] only match again once the sheet is applied anew.
		m_restyling = true;
		setStyleSheet(styleSheet());
		m_restyling = false;
	}
	if (m_gutter)
		m_gutter->update();
	update();
	viewport()->update();
	return handled;
}

bool Editor::eventFilter(QObject *watched, QEvent *e)
{
	if (watched == m_gutter && e->type() == QEvent::Paint) {
		paintGutter(static_cast<QPaintEvent *>(e)->rect());
		return true;
	}
	return QTextEdit::eventFilter(watched, e);
}

void Editor::updateGutterWidth()
{
	if (!m_gutter)
		return;
	QFont font = this->font();
	font.setWeight(QFont::Bold);
	if (m_gutter->font() != font)
		m_gutter->setFont(font);
	const QFontMetrics metrics(font);
	int digit = 0;
	for (QChar ch : QStringLiteral("0123456789"))
		digit = std::max(digit, metrics.horizontalAdvance(ch));
	const int width = decimalDigits(document()->blockCount()) * digit + kGutterPadding;

	const QMargins margins = viewportMargins();
	if (margins.left() != width)
		setViewportMargins(width, 0, margins.right(), 0);
	m_gutter->setGeometry(contentsRect().left(), viewport()->y(), width, viewport()->height());
	m_gutter->update();
}

void Editor::paintGutter(const QRect &area)
{
	QPainter painter(m_gutter);
	const QPalette &own = palette();
	painter.fillRect(area, own.color((!isReadOnly() && hasFocus()) ? QPalette::Window : QPalette::Base));

	QColor numberColor = own.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
	numberColor.setAlpha(kNumberAlpha);
	const QPalette band = parentWidget() ? parentWidget()->palette() : QPalette();
	painter.setFont(m_gutter->font());
	const QFontMetrics metrics(m_gutter->font());

	const QAbstractTextDocumentLayout *layout = document()->documentLayout();
	const int scroll = verticalScrollBar()->value();
	const int current = textCursor().blockNumber();
	const int right = m_gutter->width() - kGutterRightGap;
	for (QTextBlock block = cursorForPosition(QPoint(0, 0)).block(); block.isValid(); block = block.next()) {
		const qreal top = layout->blockBoundingRect(block).top() - scroll;
		if (top > m_gutter->height())
			break;
		const QTextLayout *lines = block.layout();
		if (!block.isVisible() || !lines || lines->lineCount() == 0)
			continue;
		const QTextLine first = lines->lineAt(0);
		const qreal y = first.y() + top;
		if (block.blockNumber() == current && isEnabled()) {
			painter.fillRect(QRectF(0, y, m_gutter->width(), first.height()), band.color(QPalette::Highlight));
			painter.setPen(band.color(QPalette::HighlightedText));
		} else {
			painter.setPen(numberColor);
		}
		const QString number = QString::number(block.blockNumber() + 1);
		painter.drawText(QPointF(right - metrics.horizontalAdvance(number), y + first.ascent()), number);
	}
}

} // namespace quillmar
