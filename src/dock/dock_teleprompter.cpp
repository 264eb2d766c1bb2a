// The teleprompter: scrolling, countdown, reading band and the actions hotkeys end in.
#include "dock/dock.h"

#include "module/hotkeys.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <cmath>

namespace quillmar {

void Dock::runHotkeyAction(int action)
{
	if (m_closing || m_restoring || action < 0 || action > 9)
		return;
}

bool Dock::isScrollingOrCountingDown() const
{
	return m_scrollTimer.isActive() || m_countdownTimer.isActive();
}

void Dock::setScrollSpeed(double value)
{
	if (!std::isfinite(value))
		value = 1.0;
	value = std::round(qBound(1.0, value, 5.0) * 10.0) / 10.0;
	if (m_scrollTimer.isActive())
		scrollTick();
	m_scrollSpeedValue = value;
	const QSignalBlocker spinBlocker(m_scrollSpeed);
	const QSignalBlocker sliderBlocker(m_scrollSlider);
	m_scrollSpeed->setValue(value);
	m_scrollSlider->setValue(int(std::lround(value * 10)));
	notifyRemoteStateChanged();
}

void Dock::setSceneToolsEnabled(bool enabled)
{
	m_scrollPlay->setEnabled(enabled);
	m_readingGuideAction->setEnabled(enabled);
}

void Dock::stopScrolling() {}
void Dock::requestScroll() {}
void Dock::scrollTick() {}
void Dock::countdownTick() {}
void Dock::updateReadingBand() {}

} // namespace quillmar
