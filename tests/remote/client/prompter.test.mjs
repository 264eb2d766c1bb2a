// The prompter view's motion, driven by a simulated dock and the module's 200 ms event timer.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { ScrollSmoother, secondsLeft, formatTimeLeft } from '../../../src/remote/client/prompter.mjs';

const FRAME_MS = 1000 / 60;

// The dock scrolls at 10 px/s x speed from `start` ms until `stop` ms (view pixels = dock
// pixels x scale). Its first move after a quiet spell starts the module's timer; each report
// leaves 200 ms later with the position then, and reaches the page after `latency(n)` ms.
// Frames are drawn every FRAME_MS. Returns the frames and where the dock stopped.
function simulate({ speed, scale = 1, start = 500, stop = 4000, end = 6000, latency = () => 20, base = 100 }) {
  const dock = (t) => base + scale * speed * 10 * (Math.min(Math.max(t, start), stop) - start) / 1000;
  const sends = Array.from({ length: Math.floor((stop - start) / 200) + 1 }, (_, n) => start + 200 * (n + 1));
  const arrivals = sends.map((t, n) => ({ time: t + latency(n), position: dock(t) })).sort((a, b) => a.time - b.time);
  const smoother = new ScrollSmoother({ snapDistance: 400 });
  smoother.reset(dock(0), 0);
  const frames = [];
  let next = 0;
  for (let t = 0; t <= end; t += FRAME_MS) {
    for (; next < arrivals.length && arrivals[next].time <= t; next++) smoother.report(arrivals[next].position, arrivals[next].time);
    frames.push({ time: t, position: smoother.frame(t) });
  }
  return { frames, stopped: dock(stop), rate: (scale * speed * 10) / 1000 };
}

const streams = [
  ['1.0x steady', { speed: 1 }],
  ['5.0x steady', { speed: 5 }],
  ['5.0x on a tablet with twice the range', { speed: 5, scale: 2 }],
  ['2.5x with network jitter', { speed: 2.5, latency: (n) => 10 + ((n * 37) % 90) }],
  ['5.0x with jitter up to 150 ms', { speed: 5, latency: (n) => ((n * 53) % 150) }],
  ['1.0x for less than one report', { speed: 1, stop: 650 }],
];

test('the view glides with the dock and stops where it stopped', async (t) => {
  for (const [name, options] of streams) {
    await t.test(name, () => {
      const { frames, stopped, rate } = simulate(options);
      const perFrame = rate * FRAME_MS;
      let largest = 0;
      for (let i = 1; i < frames.length; i++) {
        const step = frames[i].position - frames[i - 1].position;
        assert.ok(step >= 0, `moved back by ${-step} at ${frames[i].time} ms`);
        largest = Math.max(largest, step);
        // Never past the stop: not even by one frame's motion.
        assert.ok(frames[i].position <= stopped + perFrame, `overshoot to ${frames[i].position} of ${stopped}`);
      }
      // No jump: a frame moves at most a few times what the dock moves in one.
      assert.ok(largest <= 3 * perFrame + 0.5, `largest step ${largest} px, dock ${perFrame} px`);
      assert.equal(frames.at(-1).position, stopped);
      const still = frames.filter((f) => f.time > (options.stop ?? 4000) + 800);
      assert.ok(still.every((f) => f.position === stopped), 'moves after OBS stopped');
      // While the dock runs steadily, the view moves at its rate and never stands still.
      const steady = frames.filter((f) => f.time >= 1500 && f.time <= (options.stop ?? 4000) - 500);
      if (steady.length < 2 || options.latency) return;
      const measured = (steady.at(-1).position - steady[0].position) / (steady.at(-1).time - steady[0].time);
      assert.ok(Math.abs(measured - rate) / rate < 0.05, `${measured} against ${rate} px/ms`);
      assert.ok(steady.every((f, i) => i === 0 || f.position > steady[i - 1].position), 'stutters');
    });
  }
});

// Each row: the page's steps ([report|reset|frame, value, time]; "NaN" and null for a missing time
// stand for the hostile values JSON cannot hold) and the position expected after the last.
test('jumps, hostile values and resets', async (t) => {
  const rows = JSON.parse(fs.readFileSync(new URL('../../data/remote/prompter_jumps.json', import.meta.url), 'utf8'));
  for (const [name, steps, expected] of rows) {
    await t.test(name, () => {
      const smoother = new ScrollSmoother({ snapDistance: 400 });
      smoother.reset(100, 0);
      smoother.frame(100);
      const number = (v) => (v === null ? undefined : Number(v));
      for (const [kind, value, time] of steps) smoother[kind](number(kind === 'frame' ? time : value), number(time));
      assert.ok(Math.abs(smoother.position - expected) < 1e-9, `${smoother.position} != ${expected}`);
    });
  }
});

test('time left as the dock counts it', async (t) => {
  const rows = JSON.parse(fs.readFileSync(new URL('../../data/prompter/time_left.json', import.meta.url), 'utf8'));
  for (const { name, remaining, speed, shown } of rows)
    await t.test(name, () => assert.equal(formatTimeLeft(secondsLeft(Number(remaining), speed)), shown));
});
