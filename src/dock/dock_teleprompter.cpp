// The teleprompter: scrolling, countdown, reading band and the actions hotkeys end in.
#include "dock/dock.h"

#include "dock/reading_band.h"
#include "editor/editor.h"
#include "icons/mono_icon.h"
#include "module/hotkeys.h"
#include "module/text.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

namespace quillmar {

void Dock::runHotkeyAction(int action)
{
	if (m_closing || m_restoring || action < 0 || action > 9)
		return;
	const bool editable = m_editor->isEnabled() && !m_editor->isReadOnly();
	switch (action) {
	case HotkeyStart:
		if (!m_scrollTimer.isActive())
			requestScroll();
		break;
	case HotkeyPause:
		stopScrolling();
		break;
	case HotkeyToggle:
		toggleScrolling();
		break;
	case HotkeyFaster:
		setScrollSpeed(m_scrollSpeed->value() + 0.1);
		break;
	case HotkeySlower:
		setScrollSpeed(m_scrollSpeed->value() - 0.1);
		break;
	case HotkeyTop:
		scrollToTop();
		break;
	case HotkeyInsertTime:
		if (editable)
			insertTime();
		break;
	case HotkeyToggleLock:
		if (m_readModeAction->isEnabled())
			m_readModeAction->trigger();
		break;
	case HotkeyInsertMark:
		if (editable)
			insertMark();
		break;
	case HotkeyNextMark:
		if (m_editor->isEnabled())
			goToNextMark();
		break;
	default:
		break;
	}
}

bool Dock::isScrollingOrCountingDown() const
{
	return m_scrollTimer.isActive() || m_countdownTimer.isActive();
}

void Dock::setScrollSpeed(double value)
{
	value = clampScrollSpeed(value);
	// Time already gone by still counts at the old speed.
	if (m_scrollTimer.isActive())
		scrollTick();
	m_scrollSpeedValue = value;
	const QSignalBlocker spinBlocker(m_scrollSpeed);
	const QSignalBlocker sliderBlocker(m_scrollSlider);
	m_scrollSpeed->setValue(value);
	m_scrollSlider->setValue(int(std::lround(value * 10)));
	updateTimeLeft();
	notifyRemoteStateChanged();
}

void Dock::setSceneToolsEnabled(bool enabled)
{
	m_scrollPlay->setEnabled(enabled);
	m_readingGuideAction->setEnabled(enabled);
}

void Dock::setPlayButton(const QString &label, const QString &tip, int icon, Qt::ToolButtonStyle style)
{
	m_scrollPlay->setText(label);
	m_scrollPlay->setToolTip(tip);
	m_scrollPlay->setToolButtonStyle(style);
	if (m_scrollPlay->property(IconProperty).toInt() != icon || m_scrollPlay->icon().isNull()) {
		m_scrollPlay->setProperty(IconProperty, icon);
		m_scrollPlay->setIcon(monoIcon(icon, palette()));
	}
}

void Dock::toggleScrolling()
{
	if (isScrollingOrCountingDown())
		stopScrolling();
	else
		requestScroll();
}

void Dock::scrollToTop()
{
	stopScrolling();
	m_editor->verticalScrollBar()->setValue(0);
	setStatus(text("AtTop"));
}

void Dock::requestScroll()
{
	if (m_closing || !m_editor->isEnabled() || isScrollingOrCountingDown())
		return;
	const QScrollBar *bar = m_editor->verticalScrollBar();
	if (bar->maximum() <= 0) {
		setStatus(text("NoScrollNeeded"));
		return;
	}
	if (bar->value() >= bar->maximum()) {
		setStatus(text("AtEnd"));
		return;
	}
	if (!m_locked)
		setLocked(true);
	if (!m_startCountdown->isChecked()) {
		startScrolling();
		return;
	}
	m_motion.startCountdown();
	m_countdownTimer.start();
	m_scrollPlay->setToolButtonStyle(Qt::ToolButtonTextOnly);
	countdownTick();
	m_editor->setFocus();
}

void Dock::countdownTick()
{
	if (!m_countdownTimer.isActive())
		return;
	const int remaining = m_motion.countdownRemaining();
	if (remaining == 0) {
		startScrolling();
		return;
	}
	const QString message = text("CountdownRemaining").arg(remaining);
	m_scrollPlay->setText(QString::number(remaining));
	m_scrollPlay->setToolTip(message);
	setStatus(message);
}

void Dock::startScrolling()
{
	const QScrollBar *bar = m_editor->verticalScrollBar();
	if (!m_editor->isEnabled() || bar->value() >= bar->maximum()) {
		stopScrolling();
		return;
	}
	m_countdownTimer.stop();
	// From here the reader's place is wherever the scrolling takes it, not a position that was
	// still waiting for the layout to reach it.
	m_pendingPosition = -1;
	m_motion.start(bar->value());
	m_scrollTimer.start();
	updateReadingBand();
	setPlayButton(text("Pause"), text("Pause"), IconScrollPause, Qt::ToolButtonIconOnly);
	setStatus(text("Scrolling"));
	notifyRemoteStateChanged();
	m_editor->setFocus();
}

void Dock::scrollTick()
{
	if (!m_scrollTimer.isActive())
		return;
	QScrollBar *bar = m_editor->verticalScrollBar();
	const ScrollMotion::Step step =
		m_motion.tick(bar->value(), bar->maximum(), bar->isSliderDown(), m_scrollSpeedValue);
	if (step.value != bar->value())
		bar->setValue(step.value);
	// The window follows the fractional position, so its larger type glides instead of
	// stepping a whole dock pixel at a time.
	syncPrompterWindow();
	if (step.reachedEnd) {
		stopScrolling();
		setStatus(text("ReachedEnd"));
	}
}

void Dock::stopScrolling()
{
	if (!isScrollingOrCountingDown())
		return;
	m_scrollTimer.stop();
	m_countdownTimer.stop();
	m_readingBand->hide();
	setPlayButton(text("Scroll"), text("ScrollTip"), IconScrollPlay, Qt::ToolButtonIconOnly);
	setStatus(text("Paused"));
	notifyRemoteStateChanged();
}

void Dock::updateReadingBand()
{
	// Everything that moves or shows the band moves or shows the prompter window's too.
	syncPrompterWindow();
	if (!m_readingBand)
		return;
	const QWidget *viewport = m_editor->viewport();
	if (!m_scrollTimer.isActive() || !m_readingGuideAction->isChecked() || viewport->height() < 1) {
		m_readingBand->hide();
		return;
	}
	const QPoint line(viewport->width() / 2, readingLineY(viewport->height()));
	const int lineHeight = m_editor->cursorRect(m_editor->cursorForPosition(line)).height();
	const QRect geometry = readingBandGeometry(viewport->size(), lineHeight);
	if (m_readingBand->geometry() != geometry)
		m_readingBand->setGeometry(geometry);
	m_readingBand->raise();
	m_readingBand->show();
}

bool Dock::filterTeleprompterEvent(QObject *watched, QEvent *event)
{
	const QEvent::Type type = event->type();
	if (watched == m_searchText && type == QEvent::FocusIn) {
		stopScrolling();
		return false;
	}
	const bool busy = m_closing || m_restoring;
	if (watched == m_editor->viewport() &&
	    (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease)) {
		auto *mouse = static_cast<QMouseEvent *>(event);
		const Qt::KeyboardModifiers mods =
			mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
		if (mouse->button() != Qt::LeftButton || !(mods & Qt::AltModifier))
			return false;
		const bool press = type == QEvent::MouseButtonPress;
		if (mods == (Qt::ShiftModifier | Qt::AltModifier)) {
			if (press && m_editor->isEnabled() && !m_editor->isReadOnly()) {
				m_editor->setTextCursor(m_editor->cursorForPosition(mouse->position().toPoint()));
				runHotkeyAction(HotkeyInsertMark);
			}
			return true;
		}
		if (mods == Qt::AltModifier) {
			if (press && !busy) {
				if (m_readModeAction->isEnabled())
					m_readModeAction->trigger();
				m_editor->setFocus();
			}
			return true;
		}
		return false;
	}
	if (watched != m_editor || type != QEvent::KeyPress || !m_editor->isReadOnly())
		return false;
	auto *key = static_cast<QKeyEvent *>(event);
	if (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
		return false;
	switch (key->key()) {
	case Qt::Key_Space:
		if (!busy)
			toggleScrolling();
		return true;
	case Qt::Key_Plus:
	case Qt::Key_Equal:
		if (!busy)
			setScrollSpeed(m_scrollSpeed->value() + 0.1);
		return true;
	case Qt::Key_Minus:
		if (!busy)
			setScrollSpeed(m_scrollSpeed->value() - 0.1);
		return true;
	case Qt::Key_Home:
		if (!busy)
			scrollToTop();
		return true;
	case Qt::Key_Up:
	case Qt::Key_Down:
	case Qt::Key_PageUp:
	case Qt::Key_PageDown:
		// The reader takes over; the key still moves the text.
		stopScrolling();
		return false;
	default:
		return false;
	}
}

} // namespace quillmar
