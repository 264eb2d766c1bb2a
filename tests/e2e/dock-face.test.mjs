// The dock as a user sees it inside OBS: dark and light themes, wide and narrow.
import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, xdotool } from './lib/obs.mjs';
import { brightness } from './lib/image.mjs';

const started = [];
// Each test's OBS ends with it: a failed test must not leave its dock for the next one to type into.
afterEach(async () => { while (started.length) await started.pop().stop().catch(() => {}); });

for (const theme of ['dark', 'light']) {
  test(`the dock in OBS's ${theme} theme, wide and narrow`, async () => {
    const obs = await Obs.start(await makeHome({ light: theme === 'light' }));
    started.push(obs);
    await obs.call('CreateScene', { sceneName: 'Show' });
    await obs.call('SetCurrentProgramScene', { sceneName: 'Show' });
    const dock = await obs.showDock({ width: 1200, height: 520, x: 0, y: 0 });
    // Some text, so that counts and the gutter have something to show.
    xdotool('mousemove', 600, 260);
    xdotool('click', 1);
    xdotool('type', '--delay', 5, 'Welcome back, everyone. Tonight we talk about notes.');
    xdotool('key', 'Return');
    xdotool('type', '--delay', 5, 'Second paragraph.');
    await sleep(800);
    const wide = screenshot(`dock-${theme}-wide`, dock);
    await obs.showDock({ width: 705, height: 520, x: 0, y: 0 });
    await sleep(800);
    const narrow = screenshot(`dock-${theme}-narrow`, dock);
    screenshot(`obs-${theme}-with-dock`);
    for (const file of [wide, narrow]) {
      const level = brightness(file);
      if (theme === 'dark') assert.ok(level < 0.4, `${file} looks dark (${level})`);
      else assert.ok(level > 0.6, `${file} looks light (${level})`);
    }
    assert.equal((await obs.stop()).code, 0);
  });
}
