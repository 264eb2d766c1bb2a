#include "dock/scroll_motion.h"

#include <cmath>

namespace quillmar {

double clampScrollSpeed(double speed)
{
	if (!std::isfinite(speed))
		return 1.0;
	// std::round rounds halves away from zero: 1.25 is 1.3.
	return std::round(qBound(1.0, speed, 5.0) * 10.0) / 10.0;
}

ScrollMotion::ScrollMotion(MonotonicClock clock) : m_clock(std::move(clock)) {}

void ScrollMotion::setClock(MonotonicClock clock)
{
	m_clock = std::move(clock);
}

void ScrollMotion::start(int value)
{
	m_position = value;
	m_holdOffValid = false;
	m_lastTick = now();
}

void ScrollMotion::holdOff()
{
	m_holdOffSince = now();
	m_holdOffValid = true;
}

ScrollMotion::Step ScrollMotion::tick(int value, int maximum, bool sliderDown, double speed)
{
	if (value != int(std::floor(m_position))) {
		m_position = value;
		holdOff();
	}
	const qint64 time = now();
	// A clock that went backwards would scroll backwards; it is taken as no time passing.
	const qint64 elapsed = qMax<qint64>(time - m_lastTick, 0);
	m_lastTick = time;
	if (sliderDown || (m_holdOffValid && time - m_holdOffSince < HoldOffMs))
		return {value, false};
	m_position += speed * double(elapsed) * 10.0 / 1000.0;
	const int next = int(qMin<double>(maximum, std::floor(m_position)));
	return {next, m_position >= maximum};
}

void ScrollMotion::startCountdown()
{
	m_countdownSince = now();
}

int ScrollMotion::countdownRemaining() const
{
	// 0-999 ms read 3, 2000-2999 ms read 1, and from 3000 ms on 0, when scrolling starts.
	const qint64 left = ((CountdownSeconds + 1) * 1000 - 1 - (now() - m_countdownSince)) / 1000;
	return int(qMax<qint64>(left, 0));
}

} // namespace quillmar
