// Writing and reading a script in the real OBS: formatting by keys and tool buttons, reading
// marks, the next-mark hotkey through obs-websocket, and the search counter; in both themes.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, shotUntil, waitFor, xdotool, notes, plain } from './lib/obs.mjs';
import { colourShare } from './lib/image.mjs';

const started = [];
after(async () => { for (const obs of started) await obs.stop().catch(() => {}); });

const DOCK = { width: 1200, height: 520, x: 0, y: 0 };
// Tool buttons of the format tool bar, in the dock window's coordinates.
// The scene is named "Script" in both themes, so the bar starts at the same place.
const TOOL = { italic: [277, 45], insertMark: [509, 45], paragraphs: [1010, 501] };

const noteHtml = (home) => notes(home)[0]?.html ?? '';

// The main window may come up over the floating dock; a user would bring the dock forward.
async function click(dock, [x, y]) {
  xdotool('windowraise', dock);
  xdotool('mousemove', DOCK.x + x, DOCK.y + y);
  await sleep(150);
  xdotool('click', 1);
  await sleep(150);
}

const keys = (...k) => xdotool('key', '--delay', 40, ...k);

for (const theme of ['dark', 'light']) {
  test(`formatting, marks and search in OBS's ${theme} theme`, async () => {
    const home = await makeHome({ light: theme === 'light' });
    const obs = await Obs.start(home);
    started.push(obs);
    // A failure must not leave this OBS's dock for the next test to type into.
    try { await script(obs, home, theme); } finally { await obs.stop().catch(() => {}); }
  });
}

async function script(obs, home, theme) {
  await obs.call('CreateScene', { sceneName: 'Script' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Script' });
  const dock = await obs.showDock(DOCK);

  await click(dock, [600, 260]);
  xdotool('type', '--delay', 10, 'Welcome to the show.');
  keys('Return');
  xdotool('type', '--delay', 10, 'Tonight we read the script aloud.');
  keys('Return');
  xdotool('type', '--delay', 10, 'Thank you for watching.');

  // Bold and underline by their keys, italic by its button.
  keys('ctrl+Home', 'shift+ctrl+Right', 'ctrl+b', 'ctrl+u');
  keys('Down', 'Home', 'shift+End');
  await click(dock, TOOL.italic);
  // Two marks, by the tool button, each with a label typed at once.
  keys('Down', 'Home');
  await click(dock, TOOL.insertMark);
  xdotool('type', 'B');
  keys('Up', 'Up', 'End');
  await click(dock, TOOL.insertMark);
  xdotool('type', 'A');
  await sleep(300);
  screenshot(`format-${theme}-marks`, dock);

  // From the top, the next mark is A's: a character typed before it lands there. The hotkey comes
  // through obs-websocket, which does not wait for the X keys sent before it.
  keys('ctrl+Home');
  await obs.settle();
  await obs.hotkey('NextMark');
  await sleep(300);
  screenshot(`format-${theme}-next-mark`, dock);
  keys('Left');
  xdotool('type', '@');
  // Then it wraps: from the end, the next one is A's again.
  keys('ctrl+End');
  await obs.settle();
  await obs.hotkey('NextMark');
  await sleep(300);
  keys('Left');
  xdotool('type', '#');

  const mark = theme === 'dark' ? '#ffb347' : '#b85b00';
  await waitFor('the saved note', () => {
    const text = plain(noteHtml(home));
    return text.includes('show.@#\u25c6[A]') && text.includes('\u25c6[B]Thank');
  });
  const html = noteHtml(home);
  assert.match(html, /font-weight:700;[^>]*text-decoration: underline;[^>]*>Welcome /);
  assert.match(html, /font-style:italic;[^>]*>Tonight we read the script aloud\./);
  assert.match(html, new RegExp(`color:${mark};[^>]*>\u25c6\\[`));
  assert.ok(plain(html).startsWith('Welcome to the show.'), plain(html));

  // Search: the first hit is selected and painted in the hit colour; the counter shows 1/2.
  keys('ctrl+f');
  xdotool('type', '--delay', 30, 'the');
  await shotUntil('the highlighted hit', `format-${theme}-search`, dock, (shot) => colourShare(shot, '#fff200') > 0.0001)
    .catch((e) => assert.fail(`${e.message}; note: ${plain(noteHtml(home))}`));
  keys('Return');
  await sleep(300);
  screenshot(`format-${theme}-search-next`, dock);

  // Go-to from the paragraph count: 9 is refused (red border), 2 puts the cursor there.
  await click(dock, TOOL.paragraphs);
  xdotool('type', '9');
  keys('Return');
  await sleep(300);
  screenshot(`format-${theme}-goto-invalid`, dock);
  xdotool('type', '2');
  keys('Return');
  xdotool('type', '^');
  await waitFor('the go-to edit', () => plain(noteHtml(home)).includes('^Tonight'));
  assert.equal((await obs.stop()).code, 0);
}
