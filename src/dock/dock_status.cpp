#include "dock/dock.h"

#include "dock/dock_theme.h"
#include "dock/reading_band.h"
#include "dock/time_left.h"
#include "editor/editor.h"
#include "editor/note_limits.h"
#include "module/text.h"

#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolTip>

namespace quillmar {

namespace {

void setTextIfChanged(QLabel *label, const QString &value)
{
	if (label->text() != value)
		label->setText(value);
}

} // namespace

QString Dock::statusMessage() const
{
	return m_saveStatus->accessibleName();
}

// The label only shows "]"; the message is its tooltip and what screen readers announce.
void Dock::setStatus(const QString &message)
{
	m_saveStatus->setToolTip(plainToolTip(message));
	m_saveStatus->setAccessibleName(message);
}

void Dock::showSaveError(const QString &detail)
{
	const QString failed = text("NoteSaveFailed");
	m_saveError->setText(QStringLiteral("! ") + failed);
	m_saveError->setToolTip(plainToolTip(detail));
	m_saveError->setAccessibleName(failed + QLatin1Char(' ') + detail);
	m_saveError->show();
}

void Dock::hideSaveError()
{
	m_saveError->hide();
}

void Dock::updateCharacterCount()
{
	const QLocale locale;
	const int total = m_editor->isEnabled() ? m_editor->document()->characterCount() - 1 : 0;
	const QTextCursor cursor = m_editor->textCursor();
	const bool selected = m_editor->isEnabled() && cursor.hasSelection();
	QString label;
	if (selected) {
		const int count =
			visibleCharacterCount(*m_editor->document(), cursor.selectionStart(), cursor.selectionEnd());
		label = text("SelectedCharacters").arg(locale.toString(count));
	} else {
		label = text("CharacterCount").arg(locale.toString(total));
	}
	setTextIfChanged(m_characterCount, label);
	const QString remaining = text("CharacterRemaining")
					  .arg(locale.toString(total), locale.toString(kNoteCharLimit),
					       locale.toString(remainingCharacters(total)));
	m_characterCount->setToolTip(remaining);
	m_characterCount->setAccessibleName(selected ? label + QStringLiteral("; ") + remaining : remaining);
}

void Dock::updateDocumentStatus()
{
	updateCharacterCount();
	const int paragraphs = m_editor->isEnabled() ? m_editor->document()->blockCount() : 0;
	setTextIfChanged(m_documentStatus, text("DocumentStatus").arg(paragraphs));
	updateScrollStatus();
}

// Runs on every pixel the teleprompter moves, so it leaves the counts alone.
void Dock::updateScrollStatus()
{
	const QScrollBar *bar = m_editor->verticalScrollBar();
	const int percent = scrollPercent(bar->value(), bar->minimum(), bar->maximum());
	setTextIfChanged(m_scrollPercent, QString::number(percent) + QLatin1Char('%'));
	updateTimeLeft();
	notifyRemoteReadingPosition();
}

void Dock::updateTimeLeft()
{
	const QScrollBar *bar = m_editor->verticalScrollBar();
	const bool needed = m_editor->isEnabled() && bar->maximum() > bar->minimum();
	m_timeLeft->setVisible(needed);
	m_timeLeftSeparator->setVisible(needed);
	if (!needed) {
		m_timeLeftShown.clear();
		return;
	}
	// While scrolling the fractional position is the truer one; the bar shows its floor.
	const double position = isScrolling() ? m_motion.position() : double(bar->value());
	const QString shown = formatTimeLeft(secondsLeft(bar->maximum() - position, m_scrollSpeedValue));
	if (shown == m_timeLeftShown)
		return;
	m_timeLeftShown = shown;
	setTextIfChanged(m_timeLeft, shown);
	const QWidget *viewport = m_editor->viewport();
	const QTextCursor reading =
		m_editor->cursorForPosition(QPoint(viewport->width() / 2, readingLineY(viewport->height())));
	const QString tip = text("TimeLeftTip").arg(QLocale().toString(wordsAfter(reading)));
	m_timeLeft->setToolTip(tip);
	m_timeLeft->setAccessibleName(shown + QStringLiteral("; ") + tip);
}

void Dock::showLimitMessage()
{
	const QString message = text("TextLimit");
	setStatus(message);
	const QPoint corner = m_editor->viewport()->mapToGlobal(m_editor->cursorRect().bottomRight());
	QToolTip::showText(corner, message, m_editor, QRect());
}

void Dock::applySceneLabelStyle()
{
	if (!m_styled)
		return;
	const QString sheet = theme::sceneLabelSheet(m_locked);
	if (m_sceneLabel->styleSheet() != sheet)
		m_sceneLabel->setStyleSheet(sheet);
}

} // namespace quillmar
