// The prompter view of the page: the note full screen in large type for a tablet in a prompter
// hood, mirrored as the glass needs, gliding with OBS's scrolling. Never editable.
import { ScrollSmoother, secondsLeft, formatTimeLeft } from './prompter.mjs';

// Per device, so each tablet keeps the size and mirroring its hood needs.
const KEYS = {
  horizontal: 'quillmar.prompter.mirrorHorizontal',
  vertical: 'quillmar.prompter.mirrorVertical',
  size: 'quillmar.prompter.typeSize',
};
const SIZE = { min: 16, max: 160, initial: 48, step: 4 };

function read(key) {
  try { return localStorage.getItem(key); } catch { return null; }
}
function write(key, value) {
  try { localStorage.setItem(key, String(value)); } catch { /* private mode: kept for this visit */ }
}

// reader: the scrolling element; controls: the buttons and the time-left label.
export function setUpPrompterView({ reader, body, controls, timeLeft }) {
  const smoother = new ScrollSmoother({ snapDistance: Infinity });
  let active = false;
  let frame = 0;
  let wakeLock = null;
  // The dock's range in its own pixels, learnt from how fast the fraction moves at a known speed.
  let dockRange = 0;
  let run = null;

  const stored = Number(read(KEYS.size));
  const prefs = {
    horizontal: read(KEYS.horizontal) === 'true',
    vertical: read(KEYS.vertical) === 'true',
    size: Number.isInteger(stored) && stored >= SIZE.min && stored <= SIZE.max ? stored : SIZE.initial,
  };

  function apply() {
    body.classList.toggle('prompter', active);
    body.classList.toggle('mirror-h', active && prefs.horizontal);
    body.classList.toggle('mirror-v', active && prefs.vertical);
    body.style.setProperty('--prompter-size', `${prefs.size}px`);
    controls.horizontal.setAttribute('aria-pressed', String(prefs.horizontal));
    controls.vertical.setAttribute('aria-pressed', String(prefs.vertical));
    controls.toggle.setAttribute('aria-pressed', String(active));
  }

  async function keepAwake(on) {
    if (on && !wakeLock && navigator.wakeLock && document.visibilityState === 'visible') {
      try {
        wakeLock = await navigator.wakeLock.request('screen');
        wakeLock.addEventListener('release', () => { wakeLock = null; });
      } catch { wakeLock = null; /* refused (no HTTPS, battery saver): the screen may dim */ }
    } else if (!on && wakeLock) {
      wakeLock.release().catch(() => {});
      wakeLock = null;
    }
  }

  function render(now) {
    frame = 0;
    if (!active) return;
    const range = reader.scrollHeight - reader.clientHeight;
    const position = smoother.frame(now);
    if (position !== null && range > 0) reader.scrollTop = position * range;
    if (smoother.moving) frame = requestAnimationFrame(render);
  }

  function setActive(on) {
    if (on === active) return;
    active = on;
    smoother.reset(range() > 0 ? reader.scrollTop / range() : 0, performance.now());
    apply();
    keepAwake(on);
    if (!on && document.fullscreenElement) document.exitFullscreen().catch(() => {});
  }
  const range = () => reader.scrollHeight - reader.clientHeight;

  controls.toggle.addEventListener('click', () => setActive(!active));
  controls.horizontal.addEventListener('click', () => { prefs.horizontal = !prefs.horizontal; write(KEYS.horizontal, prefs.horizontal); apply(); });
  controls.vertical.addEventListener('click', () => { prefs.vertical = !prefs.vertical; write(KEYS.vertical, prefs.vertical); apply(); });
  const resize = (delta) => {
    prefs.size = Math.min(SIZE.max, Math.max(SIZE.min, prefs.size + delta));
    write(KEYS.size, prefs.size);
    apply();
  };
  controls.larger.addEventListener('click', () => resize(SIZE.step));
  controls.smaller.addEventListener('click', () => resize(-SIZE.step));

  // A tap on the text enters full screen and a second one leaves; nothing reaches the editor.
  const swallow = (event) => {
    if (!active) return;
    event.stopImmediatePropagation();
    event.preventDefault();
  };
  for (const type of ['pointerdown', 'mousedown', 'focusin', 'keydown', 'beforeinput'])
    reader.addEventListener(type, swallow, true);
  reader.addEventListener('click', (event) => {
    if (!active) return;
    swallow(event);
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else document.documentElement.requestFullscreen?.().catch(() => {});
  }, true);
  document.addEventListener('keydown', (event) => {
    if (active && event.key === 'Escape' && !document.fullscreenElement) setActive(false);
  });
  document.addEventListener('visibilitychange', () => { if (active) keepAwake(true); });
  apply();

  return {
    get active() { return active; },
    // A position from OBS (a fraction of the dock's range) with the speed OBS reports; true when
    // this view took it over.
    follow(fraction, speed, scrolling) {
      const now = performance.now();
      // Measured over a second or more: one report moves only a few whole dock pixels.
      if (!scrolling || !(speed > 0) || (run && (run.speed !== speed || fraction < run.fraction))) run = null;
      if (scrolling && speed > 0 && !run) run = { fraction, time: now, speed };
      else if (run && now - run.time >= 1000 && fraction > run.fraction)
        dockRange = (10 * speed * ((now - run.time) / 1000)) / (fraction - run.fraction);
      timeLeft.textContent = dockRange > 0 ? formatTimeLeft(secondsLeft((1 - fraction) * dockRange, speed)) : '';
      if (!active) return false;
      smoother.report(fraction, now);
      if (!frame) frame = requestAnimationFrame(render);
      return true;
    },
    reset() {
      run = null;
      dockRange = 0;
      timeLeft.textContent = '';
      smoother.reset(range() > 0 ? reader.scrollTop / range() : 0, performance.now());
    },
  };
}
