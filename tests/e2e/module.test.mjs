import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { Obs, makeHome, screenshot } from './lib/obs.mjs';

const started = [];
// Each test's OBS ends with it: a failed test must not leave its dock for the next one to type into.
afterEach(async () => { while (started.length) await started.pop().stop().catch(() => {}); });

test('OBS loads Quillmar, shows its dock and exits cleanly', async () => {
  const home = await makeHome();
  const obs = await Obs.start(home);
  started.push(obs);

  // The version comes from CMake's project(), the one place it is written.
  const cmake = fs.readFileSync(new URL('../../CMakeLists.txt', import.meta.url), 'utf8');
  const projectVersion = cmake.match(/project\(quillmar VERSION ([0-9.]+)/)[1];
  assert.ok(obs.log().includes(`[Quillmar] Loaded ${projectVersion}`));
  const version = await obs.call('GetVersion');
  assert.ok(version.availableRequests.includes('CallVendorRequest'));

  // The ten hotkeys are registered with the host, which lists them for binding.
  const { hotkeys } = await obs.call('GetHotkeyList');
  const ours = hotkeys.filter((name) => name.startsWith('Quillmar.')).sort();
  assert.deepEqual(ours, ['Quillmar.Faster', 'Quillmar.InsertMark', 'Quillmar.InsertTime', 'Quillmar.NextMark',
    'Quillmar.PauseScroll', 'Quillmar.Slower', 'Quillmar.StartScroll', 'Quillmar.ToggleLock',
    'Quillmar.ToggleScroll', 'Quillmar.Top']);

  await obs.showDock();
  const shot = screenshot('module-dock-shown');
  assert.ok(fs.statSync(shot).size > 10000, 'a screenshot was written');

  const { code, signal } = await obs.stop();
  assert.equal(signal, null);
  assert.equal(code, 0, `OBS exit code, log: ${obs.logFile}`);
  const log = obs.log();
  assert.match(log, /Number of memory leaks: \d+/, 'OBS finished its shut-down');
  assert.doesNotMatch(log, /Segmentation fault|Aborted|Unhandled exception/i);

  // The module's configuration folder was made; the dock's settings live there.
  assert.ok(fs.statSync(home.moduleConfig).isDirectory());
  // OBS remembers the dock as shown.
  const settings = ['global.ini', 'user.ini'].map((f) => path.join(home.config, f)).filter((f) => fs.existsSync(f));
  assert.match(settings.map((f) => fs.readFileSync(f, 'utf8')).join('\n'), /DockState=/);
});
