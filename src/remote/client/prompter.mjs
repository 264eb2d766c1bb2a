// The prompter view's motion. OBS reports the dock's position at most every 200 ms; drawn as it
// arrives, text at 5.0x would jump 10 px five times a second. This module turns those reports
// into one position per animation frame. It keeps no DOM and reads no clock: the caller passes
// event and frame times (performance.now()), so tests can drive it with a simulated stream.
//
// The rendered position never runs ahead of the last reported one: it travels toward it at a
// steady speed chosen when a report arrives, a little slower than needed to arrive by the time
// the next report is due. In a steady stream that speed settles on the rate the reports show,
// and when OBS stops, the view stops at OBS's last position without overshooting it.

// The module's event timer; the measured gap between reports replaces it once known.
export const EVENT_INTERVAL_MS = 200;
// Arrive a quarter interval after the next report is due, so a slightly late report does not
// halt the text in between.
const SLACK = 1.25;
// Gaps outside this window are a pause or a burst, not the rhythm of a running stream.
const MIN_INTERVAL_MS = 100;
const MAX_INTERVAL_MS = 400;

const finite = (value) => typeof value === 'number' && Number.isFinite(value);

export class ScrollSmoother {
  // snapDistance: a report this far from the shown position (a seek, "top", another note) is
  // shown at once instead of being travelled to.
  constructor({ snapDistance = Infinity } = {}) {
    this.snapDistance = snapDistance;
    this.interval = EVENT_INTERVAL_MS;
    this.rendered = null;
    this.target = null;
    this.speed = 0; // units per millisecond, signed
    this.lastReport = null;
    this.lastFrame = null;
  }

  get position() {
    return this.rendered;
  }

  // Whether the view still travels toward the last report.
  get moving() {
    return this.rendered !== null && this.rendered !== this.target;
  }

  // Show a position at once, forgetting the stream (a new scene, epoch or layout).
  reset(position, time) {
    if (!finite(position)) return;
    this.rendered = position;
    this.target = position;
    this.speed = 0;
    this.lastReport = null;
    this.lastFrame = finite(time) ? time : null;
  }

  // A reported position ("Scroll" event or state) that arrived at time.
  report(position, time) {
    if (!finite(position) || !finite(time)) return;
    if (this.rendered === null || Math.abs(position - this.rendered) > this.snapDistance) {
      this.reset(position, time);
      return;
    }
    if (this.lastReport !== null) {
      const gap = time - this.lastReport;
      if (gap >= MIN_INTERVAL_MS && gap <= MAX_INTERVAL_MS) this.interval = 0.75 * this.interval + 0.25 * gap;
    }
    this.lastReport = time;
    this.target = position;
    this.speed = (position - this.rendered) / (SLACK * this.interval);
  }

  // The position to draw in the frame at time.
  frame(time) {
    if (this.rendered === null) return null;
    if (!finite(time)) return this.rendered;
    // A clock going back, or the first frame, moves nothing.
    const dt = this.lastFrame === null ? 0 : Math.max(0, time - this.lastFrame);
    this.lastFrame = time;
    // The speed always points at the target: it is set from the distance to it, and the
    // position never passes it.
    const gap = this.target - this.rendered;
    const step = this.speed * dt;
    if (Math.abs(step) >= Math.abs(gap)) {
      this.rendered = this.target;
      this.speed = 0;
    } else {
      this.rendered += step;
    }
    return this.rendered;
  }
}

// Whole seconds to scroll `remaining` pixels at `speed` (10 px/s at 1.0), rounded up; the same
// arithmetic as the dock's.
export function secondsLeft(remaining, speed) {
  if (!finite(remaining) || remaining <= 0 || !finite(speed) || speed <= 0) return 0;
  return Math.min(Math.ceil(remaining / (10 * speed) - 1e-9), 359999);
}

export function formatTimeLeft(seconds) {
  const s = Math.max(0, Math.floor(finite(seconds) ? seconds : 0));
  return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}
