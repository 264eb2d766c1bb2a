// The teleprompter in the real OBS, driven as a Stream Deck does it (obs-websocket's
// TriggerHotkeyByName) and through keys bound in the collection's saved "quillmar_hotkeys".
import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, homeWithLongNote, screenshot, shotUntil, xdotool } from './lib/obs.mjs';
import { difference as compare } from './lib/image.mjs';

const started = [];
// Each test's OBS ends with it: a failed test must not leave its dock for the next one to type into.
afterEach(async () => { while (started.length) await started.pop().stop().catch(() => {}); });

// The note area of the dock's screenshots.
const difference = (a, b) => compare(a, b, { area: { x: 40, y: 70, width: 740, height: 420 } });

// Where the band's edge lines are, as a fraction of the image's height: rows that lean blue.
function bandCentre(file) {
  const rows = execFileSync('convert', [file, '-resize', '1x!', '-depth', '8', 'txt:-'], { encoding: 'utf8' })
    .split('\n').map((line) => /^0,(\d+): \((\d+),(\d+),(\d+)/.exec(line)).filter(Boolean)
    .filter(([, , r, , b]) => Number(b) - Number(r) > 40).map(([, y]) => Number(y));
  assert.ok(rows.length >= 2, `the band shows in ${file}`);
  const height = Number(execFileSync('identify', ['-format', '%h', file], { encoding: 'utf8' }));
  return (Math.min(...rows) + Math.max(...rows)) / 2 / height;
}

// A real X key where OBS hears one. OBS 32 under Xvfb hears no synthetic key for any hotkey (its
// own scene hotkeys included), so there the key goes to OBS's own key handling, which matches it
// against the loaded bindings as it does a key the user presses.
async function pressKey(obs, key) {
  const { obsVersion } = await obs.call('GetVersion');
  if (Number(obsVersion.split('.')[0]) >= 32) {
    await obs.call('TriggerHotkeyByKeySequence', { keyId: `OBS_KEY_${key}` });
    return;
  }
  xdotool('keydown', key);
  await sleep(200);
  xdotool('keyup', key);
}

for (const theme of ['dark', 'light']) {
  test(`hotkeys drive the teleprompter in OBS's ${theme} theme`, async () => {
    // A long note, and F8 / F9 bound the way the module saved its bindings.
    const home = await homeWithLongNote({ light: theme === 'light' });
    const scenes = path.join(home.config, 'basic/scenes/Untitled.json');
    const collection = JSON.parse(fs.readFileSync(scenes, 'utf8'));
    const bindings = collection.modules.quillmar_hotkeys;
    assert.ok(bindings, 'the module saved its bindings with the collection');
    bindings['Quillmar.StartScroll'] = [{ key: 'OBS_KEY_F8' }];
    bindings['Quillmar.Top'] = [{ key: 'OBS_KEY_F9' }];
    fs.writeFileSync(scenes, JSON.stringify(collection));

    const obs = await Obs.start(home);
    started.push(obs);
    try {
      await drive(obs, theme);
    } finally {
      assert.equal((await obs.stop()).code, 0);
    }
  });
}

async function drive(obs, theme) {
  const dock = await obs.showDock();
  await obs.hotkey('ToggleLock');
  await sleep(800);
  const shot = (name) => screenshot(`teleprompter-${theme}-${name}`, dock);
  const top = shot('0-top');
  await obs.hotkey('StartScroll');
  await sleep(1000);
  const first = shot('1-scrolling');
  await sleep(1000);
  const second = shot('2-a-second-later');
  assert.ok(difference(first, second) > 0.005, 'the note moved within a second');
  const centre = bandCentre(first);
  assert.ok(centre > 0.33 && centre < 0.47, `the band sits near 38.2 % of the view (${centre})`);
  for (let i = 0; i < 5; ++i) await obs.hotkey('Faster');
  await sleep(1000);
  shot('3-faster-1.5');
  await obs.hotkey('PauseScroll');
  await sleep(300);
  const paused = shot('4-paused');
  await sleep(1000);
  assert.ok(difference(paused, shot('5-still-paused')) < 0.002, 'pause holds the note still');
  const until = (what, name, check) => shotUntil(what, `teleprompter-${theme}-${name}`, dock, check);
  await obs.hotkey('Top');
  await until('Top to return to the top', '6-back-at-top', (s) => difference(top, s) < 0.002);

  await pressKey(obs, 'F8');
  await until('the bound key to start scrolling', '7-key-scrolling', (s) => difference(top, s) > 0.005);
  await pressKey(obs, 'F9');
  await until('the bound key to return to the top', '8-key-top', (s) => difference(top, s) < 0.002);
}
