// Search and go-to.
#include "dock/dock.h"

#include "dock/reading_band.h"
#include "editor/editor.h"
#include "module/text.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QToolButton>

#include <cmath>

namespace quillmar {

namespace {

constexpr int kSearchDelayMs = 160;
// A longer selection is a passage, not something to search for.
constexpr int kMaxSelectionAsSearch = 256;
constexpr int kGoToMaxLength = 10;

const QString &goToSheet()
{
	static const QString sheet = QStringLiteral(
		"QLineEdit { min-width: 0px; min-height: 0px; padding: 0px 3px; border: 1px solid palette(highlight); "
		"border-radius: 3px; color: palette(text); background: palette(base); } "
		"QLineEdit[invalid=\"true\"] { border-color: #b96359; }");
	return sheet;
}

void repolish(QWidget *widget)
{
	widget->style()->unpolish(widget);
	widget->style()->polish(widget);
	widget->update();
}

} // namespace

void Dock::connectSearch()
{
	// A child, so that tests can find it and play its timeout.
	m_searchTimer.setParent(this);
	m_searchTimer.setObjectName(QStringLiteral("searchTimer"));
	m_searchTimer.setInterval(kSearchDelayMs);

	connect(m_searchText, &QLineEdit::textChanged, this, [this](const QString &value) {
		m_markSearch = false;
		if (m_clearSearch->isHidden() != value.isEmpty()) {
			m_clearSearch->setVisible(!value.isEmpty());
			updateSearchMargins();
		}
		invalidateSearch(true);
	});
	connect(m_searchText, &QLineEdit::returnPressed, this, [this] { findMatch(false); });
	connect(m_findNext, &QToolButton::clicked, this, [this] { findMatch(false); });
	connect(m_findPrevious, &QToolButton::clicked, this, [this] { findMatch(true); });
	connect(m_clearSearch, &QToolButton::clicked, this, &Dock::clearSearch);
	connect(m_findAction, &QAction::triggered, this, &Dock::openSearch);
}

bool Dock::filterSearchEvent(QObject *watched, QEvent *event)
{
	const QEvent::Type type = event->type();
	if (m_goToInput && watched == m_goToInput && type == QEvent::KeyPress &&
	    static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
		hideGoTo();
		m_editor->setFocus();
		return true;
	}
	if ((watched == m_documentStatus || watched == m_scrollPercent) && type == QEvent::MouseButtonRelease &&
	    static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
		showGoTo(watched == m_scrollPercent);
		return true;
	}
	if (watched == m_searchText && type == QEvent::FocusIn)
		stopScrolling();
	return false;
}

void Dock::openSearch()
{
	if (!m_editor->isEnabled())
		return;
	stopScrolling();
	const QString selected = m_editor->textCursor().selectedText();
	if (!selected.isEmpty() && selected.size() <= kMaxSelectionAsSearch &&
	    !selected.contains(QChar::ParagraphSeparator))
		m_searchText->setText(selected);
	m_searchText->setFocus(Qt::ShortcutFocusReason);
	m_searchText->selectAll();
}

void Dock::clearSearch()
{
	m_searchText->clear();
	QTextCursor cursor = m_editor->textCursor();
	cursor.clearSelection();
	m_editor->setTextCursor(cursor);
	m_editor->setFocus();
}

void Dock::invalidateSearch(bool textChanged)
{
	m_editor->setSearchMatch(false);
	m_matchesStale = true;
	m_searchTextChanged = m_searchTextChanged || textChanged;
	m_matches.clear();
	m_searchTimer.stop();
	m_searchStatus->hide();
	m_searchText->setAccessibleDescription(QString());
	m_searchText->setToolTip(text("FindPlaceholder"));
	if (!m_searchText->text().isEmpty() && m_editor->isEnabled())
		m_searchTimer.start();
}

void Dock::noteContentsChanged()
{
	if (m_markSearch)
		m_searchText->clear();
	else
		invalidateSearch();
}

void Dock::collectMatches()
{
	m_searchTimer.stop();
	if (!m_matchesStale)
		return;
	m_matches.clear();
	if (!m_searchText->text().isEmpty() && m_editor->isEnabled())
		m_matches = findTextMatches(*m_editor->document(), m_searchText->text());
	m_matchesStale = false;
}

void Dock::searchTimerExpired()
{
	if (m_searchTextChanged) {
		findMatch(false, true);
		return;
	}
	collectMatches();
	updateSearchStatus();
}

void Dock::findMatch(bool backward, bool afterTyping)
{
	const bool jumpToFirst = afterTyping || m_searchTextChanged;
	m_searchTextChanged = false;
	collectMatches();
	if (!m_searchText->text().isEmpty() && m_editor->isEnabled())
		stopScrolling();
	if (!m_matches.empty()) {
		const QTextCursor current = m_editor->textCursor();
		int index = 0;
		if (!jumpToFirst)
			index = backward ? previousMatchIndex(m_matches, current.selectionStart())
					 : nextMatchIndex(m_matches, current.selectionEnd());
		const TextMatch &hit = m_matches[size_t(index)];
		QTextCursor cursor(m_editor->document());
		cursor.setPosition(hit.start);
		cursor.setPosition(hit.end, QTextCursor::KeepAnchor);
		m_editor->setTextCursor(cursor);
		m_editor->ensureCursorVisible();
	}
	updateSearchStatus();
}

void Dock::updateSearchStatus()
{
	// Until the hits are counted again, the counter stays hidden.
	if (m_matchesStale)
		return;
	if (m_searchText->text().isEmpty() || !m_editor->isEnabled()) {
		m_editor->setSearchMatch(false);
		m_searchStatus->hide();
		return;
	}
	const QTextCursor cursor = m_editor->textCursor();
	const int number = matchNumber(m_matches, cursor.selectionStart(), cursor.selectionEnd());
	const int count = int(m_matches.size());
	m_editor->setSearchMatch(number >= 1);
	const QString counter = QStringLiteral("%1/%2").arg(number).arg(count);
	if (m_searchStatus->text() != counter)
		m_searchStatus->setText(counter);
	const QString tip = count ? text("MatchCount").arg(number).arg(count) : text("NoMatch");
	m_searchStatus->setToolTip(tip);
	m_searchText->setToolTip(tip);
	m_searchText->setAccessibleDescription(tip);
	if (m_searchStatus->isHidden()) {
		m_searchStatus->show();
		updateSearchMargins();
	}
}

void Dock::stopSearchTimer()
{
	m_searchTimer.stop();
}

void Dock::showGoTo(bool percent)
{
	if (m_closing || !m_editor->isEnabled())
		return;
	if (!m_goToInput) {
		m_goToInput = new QLineEdit(this);
		m_goToInput->setObjectName(QStringLiteral("goToInput"));
		m_goToInput->setMaxLength(kGoToMaxLength);
		m_goToInput->setAccessibleName(text("GoToPrompt"));
		m_goToInput->setPlaceholderText(text("GoToPrompt"));
		m_goToInput->installEventFilter(this);
		connect(m_goToInput, &QLineEdit::returnPressed, this, &Dock::acceptGoTo);
	}
	m_goToInput->setFont(font());
	m_goToInput->setAlignment(percent ? Qt::AlignRight : Qt::AlignLeft);
	m_goToInput->setProperty("invalid", false);
	m_goToInput->setToolTip(text("GoToPrompt"));
	if (m_goToInput->styleSheet() != goToSheet())
		m_goToInput->setStyleSheet(goToSheet());
	else
		repolish(m_goToInput);

	const QRect area(m_readingMetrics->mapTo(this, QPoint(0, 0)), m_readingMetrics->size());
	m_goToInput->setGeometry(goToGeometry(size(), area, m_goToInput->fontMetrics().height()));

	if (percent) {
		const QScrollBar *bar = m_editor->verticalScrollBar();
		const int range = bar->maximum() - bar->minimum();
		const double fraction = range >= 1 ? double(bar->value() - bar->minimum()) / range : 0.0;
		m_goToInput->setText(QString::number(std::lround(fraction * 100)) + QLatin1Char('%'));
	} else {
		m_goToInput->setText(QString::number(m_editor->textCursor().blockNumber() + 1));
	}
	m_goToInput->show();
	m_goToInput->raise();
	m_goToInput->setFocus(Qt::OtherFocusReason);
	m_goToInput->selectAll();
}

void Dock::acceptGoTo()
{
	if (goTo(m_goToInput->text())) {
		hideGoTo();
		m_editor->setFocus();
		return;
	}
	m_goToInput->setProperty("invalid", true);
	repolish(m_goToInput);
	m_goToInput->setToolTip(text("GoToInvalid").arg(m_editor->document()->blockCount()));
	m_goToInput->selectAll();
}

bool Dock::goTo(const QString &value)
{
	if (m_closing || !m_editor->isEnabled())
		return false;
	const std::optional<GoToTarget> target = parseGoTo(value, m_editor->document()->blockCount());
	if (!target)
		return false;
	if (isScrollingOrCountingDown())
		stopScrolling();
	QScrollBar *bar = m_editor->verticalScrollBar();
	if (target->percent) {
		bar->setValue(percentScrollValue(bar->maximum(), target->value));
		return true;
	}
	QTextCursor cursor(m_editor->document()->findBlockByNumber(target->value - 1));
	m_editor->setTextCursor(cursor);
	m_editor->ensureCursorVisible();
	const int readingLine = readingLineY(m_editor->viewport()->height());
	bar->setValue(m_editor->cursorRect().top() - readingLine + bar->value());
	return true;
}

void Dock::hideGoTo()
{
	if (m_goToInput && !m_goToInput->isHidden())
		m_goToInput->hide();
}

void Dock::goToFocusChanged()
{
	if (!m_goToInput || m_goToInput->isHidden())
		return;
	// The focus settles only after the change is announced; a pop-up keeps the field open.
	QTimer::singleShot(0, this, [this] {
		QWidget *focused = QApplication::focusWidget();
		if (m_goToInput && !m_goToInput->isHidden() && !QApplication::activePopupWidget() && focused &&
		    focused != m_goToInput)
			hideGoTo();
	});
}

} // namespace quillmar
