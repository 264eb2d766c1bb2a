// The prompter window in the real OBS: opened from the dock's context menu, mirrored for the
// glass beside the dock, and scrolling with the dock when a hotkey (a Stream Deck's
// TriggerHotkeyByName) starts it.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { randomBytes } from 'node:crypto';
import { Obs, homeWithLongNote, screenshot, shotUntil, waitFor, xdotool, artifactDir } from './lib/obs.mjs';
import { difference } from './lib/image.mjs';
import { enableRemote, serveClient, openBrowser, shoot, signIn } from './lib/app_page.mjs';

const started = [];
after(async () => { for (const obs of started) await obs.stop().catch(() => {}); });

const WINDOW = { x: 0, y: 0, width: 1080, height: 600 };

const prompterWindow = () => {
  try { return xdotool('search', '--onlyvisible', '--name', '^Quillmar prompter$').split('\n')[0]; } catch { return ''; }
};

test('the prompter window opens from the dock, mirrors, and follows the dock', async () => {
  const home = await homeWithLongNote({ paragraphs: 120 });
  const token = randomBytes(16).toString('base64url');
  enableRemote(home, token);

  const obs = await Obs.start(home);
  started.push(obs);
  try {
    const dock = await obs.showDock();
    await obs.hotkey('ToggleLock');
    await sleep(500);

    // The context menu's entry, picked with the keyboard as a person might: it is the one
    // before "About", the last.
    xdotool('mousemove', 1095 + 400, 280);
    xdotool('click', 3);
    await sleep(600);
    screenshot('prompter-0-context-menu');
    xdotool('key', 'Up', 'Up', 'Return');
    const window = await waitFor('the prompter window', prompterWindow, 10000);
    xdotool('windowsize', window, WINDOW.width, WINDOW.height);
    xdotool('windowmove', window, WINDOW.x, WINDOW.y);
    xdotool('windowfocus', '--sync', window);
    await sleep(700);
    const plain = screenshot('prompter-1-plain', window);

    xdotool('key', 'h');
    const mirrored = await shotUntil('the mirrored view', 'prompter-2-mirrored', window,
      (shot) => difference(plain, shot) > 0.02);
    const left = difference(plain, mirrored, { flop: true, coarse: true });
    assert.ok(left < 0.02, `the mirrored view is the plain one flipped (${left})`);
    const settings = fs.readFileSync(path.join(home.moduleConfig, 'settings.ini'), 'utf8');
    assert.match(settings, /\[prompter\][^[]*mirrorHorizontal=true/);

    // Both windows side by side, a second apart while the hotkey scrolls, then paused.
    await obs.hotkey('StartScroll');
    await sleep(1000);
    const first = screenshot('prompter-3-scrolling-beside-the-dock');
    await sleep(1000);
    const second = screenshot('prompter-4-a-second-later');
    const dockArea = { x: 1095, y: 60, width: 800, height: 420 };
    assert.ok(difference(first, second, { area: WINDOW }) > 0.005, 'the prompter window moved within a second');
    assert.ok(difference(first, second, { area: dockArea }) > 0.002, 'the dock moved within the same second');
    await obs.hotkey('PauseScroll');
    await sleep(500);
    const paused = screenshot('prompter-5-paused', window);
    await sleep(1000);
    assert.ok(difference(paused, screenshot('prompter-6-still-paused', window)) < 0.001, 'it stops with the dock');

    // Closing the window leaves the dock where it was, and OBS exits cleanly afterwards.
    xdotool('mousemove', WINDOW.x + 300, WINDOW.y + 300);
    xdotool('click', 3);
    await sleep(600);
    screenshot('prompter-7-window-menu');
    xdotool('key', 'Up', 'Return');
    await waitFor('the prompter window to close', () => !prompterWindow(), 5000);
    screenshot('prompter-8-closed', dock);
    assert.ok(obs.dockWindowVisible(), 'the dock stays');
    await obs.hotkey('Top');

    await browserView(home, obs, token);
  } finally {
    assert.equal((await obs.stop()).code, 0);
  }
});

// The browser's prompter view on a tablet, following the same hotkey-driven scrolling.
async function browserView(home, obs, token) {
  const server = await serveClient(home.port);
  const browser = await openBrowser();
  try {
    const page = await browser.page();
    await page.setViewportSize({ width: 820, height: 1180 });
    await signIn(page, server.origin, token, home.password);
    // Sign-in and the first note can take a while on a loaded machine.
    await waitFor('the note in the browser', async () => (await page.$eval('#lines', (el) => el.textContent)).includes('120'), 45000);
    await page.click('#target');
    await page.click('#prompter');
    // Each mirror option is the plain view flipped, band included.
    const reader = page.locator('#reader');
    const plain = path.join(artifactDir, 'prompter-browser-0-plain.png');
    await page.waitForTimeout(300);
    await reader.screenshot({ path: plain });
    for (const [name, buttons, flop, flip] of [['horizontal', ['#mirror-h'], true, false],
      ['both', ['#mirror-v'], true, true], ['vertical', ['#mirror-h'], false, true]]) {
      for (const button of buttons) await page.click(button);
      await page.waitForTimeout(300);
      const file = path.join(artifactDir, `prompter-browser-0-${name}.png`);
      await reader.screenshot({ path: file });
      assert.ok(difference(plain, file) > 0.02, `${name} differs from the plain view`);
      const left = difference(plain, file, { flop, flip, coarse: true });
      assert.ok(left < 0.02, `${name} is the plain view mirrored (${left})`);
    }
    await page.click('#mirror-v');
    await page.click('#mirror-h');
    assert.deepEqual(await page.evaluate(() => [...document.body.classList].sort()), ['mirror-h', 'prompter']);
    assert.equal(await page.evaluate(() => localStorage.getItem('quillmar.prompter.mirrorHorizontal')), 'true');
    // A tap is for full screen, never for editing.
    await page.click('#document');
    await page.waitForTimeout(500);
    assert.equal(await page.$eval('#document', (el) => el.isContentEditable), false);

    await obs.hotkey('StartScroll');
    await page.waitForTimeout(1500);
    const first = await shoot(page, 'prompter-browser-1-scrolling');
    const top1 = await page.$eval('#reader', (el) => el.scrollTop);
    await page.waitForTimeout(1000);
    const second = await shoot(page, 'prompter-browser-2-a-second-later');
    const top2 = await page.$eval('#reader', (el) => el.scrollTop);
    assert.ok(top2 > top1, `the view moves with the dock (${top1} then ${top2})`);
    assert.ok(difference(first, second) > 0.005, 'the screenshots a second apart differ');
    await obs.hotkey('PauseScroll');
    await page.waitForTimeout(800);
    const stopped = await page.$eval('#reader', (el) => el.scrollTop);
    await page.waitForTimeout(1000);
    await shoot(page, 'prompter-browser-3-stopped');
    assert.equal(await page.$eval('#reader', (el) => el.scrollTop), stopped, 'it stops when OBS stops');
    assert.match(await page.$eval('#time-left', (el) => el.textContent), /^\d+:\d\d$/);
    assert.deepEqual(browser.problems, []);
  } finally {
    await browser.close();
    await server.close();
  }
}
