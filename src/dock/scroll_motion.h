#pragma once

#include "module/clock.h"

namespace quillmar {

// Speeds are 1.0 to 5.0 in tenths; anything else (not a number included) is brought there.
double clampScrollSpeed(double speed);

// The teleprompter's motion in scroll-bar units: the position follows measured time rather
// than timer ticks, so a late, skipped or bursty timer changes neither speed nor distance.
class ScrollMotion {
public:
	static constexpr qint64 HoldOffMs = 1000;
	static constexpr int CountdownSeconds = 3;

	explicit ScrollMotion(MonotonicClock clock = steadyClock());
	void setClock(MonotonicClock clock);
	qint64 now() const { return m_clock(); }

	// Scrolling starts from the scroll bar's value, with no hold-off pending.
	void start(int value);
	// The reader moved the text: motion waits until HoldOffMs after the last such move.
	void holdOff();

	struct Step {
		int value;       // the scroll bar's new value
		bool reachedEnd; // the position got to the maximum
	};
	// One timer tick, given the scroll bar as it is now. Time passes on every tick, held or
	// not, so time spent held is never made up afterwards.
	Step tick(int value, int maximum, bool sliderDown, double speed);
	double position() const { return m_position; }

	void startCountdown();
	// Whole seconds left, 3, 2, 1, then 0 from CountdownSeconds on.
	int countdownRemaining() const;

private:
	MonotonicClock m_clock;
	double m_position = 0.0;
	qint64 m_lastTick = 0;
	qint64 m_holdOffSince = 0;
	bool m_holdOffValid = false;
	qint64 m_countdownSince = 0;
};

} // namespace quillmar
