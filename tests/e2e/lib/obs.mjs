// Starts the real OBS Studio with the freshly built module in a throw-away HOME, under the X
// server named by DISPLAY, and hands back an obs-websocket client and keyboard/mouse helpers.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { randomBytes } from 'node:crypto';
import OBSWebSocket from 'obs-websocket-js/json';

const checkout = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../..');
const buildDir = path.resolve(checkout, process.env.QUILLMAR_BUILD_DIR || 'build');
export const artifactDir = path.join(buildDir, 'e2e-artifacts');
fs.mkdirSync(artifactDir, { recursive: true });

const crashTrace = path.join(buildDir, 'e2e-crash-trace.so');
const running = new Set();
// A failing test must not leave an OBS behind.
process.on('exit', () => { for (const child of running) try { child.kill('SIGKILL'); } catch { /* gone */ } });

export function xdotool(...args) {
  return execFileSync('xdotool', args.map(String), { encoding: 'utf8' }).trim();
}

// The whole screen, or one window by its X id.
export function screenshot(name, window = 'root') {
  const file = path.join(artifactDir, name.endsWith('.png') ? name : `${name}.png`);
  execFileSync('import', ['-window', String(window), file]);
  return file;
}

async function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

export async function waitFor(what, check, timeoutMs = 20000, stepMs = 100) {
  const end = Date.now() + timeoutMs;
  let last;
  while (Date.now() < end) {
    try {
      last = await check();
      if (last) return last;
    } catch (e) { last = e; }
    await sleep(stepMs);
  }
  let shot = '';
  try { shot = ` (screen: ${screenshot(`timeout-${what.replace(/[^A-Za-z0-9]+/g, '-')}`)})`; } catch { /* no display */ }
  // Keys typed into the wrong window are the usual cause of a missing text.
  try { shot += ` (keyboard focus: "${xdotool('getwindowfocus', 'getwindowname')}")`; } catch { /* none */ }
  throw new Error(`timed out waiting for ${what}${last instanceof Error ? `: ${last.message}` : ''}${shot}`);
}

// Screenshots until one passes the check: OBS under load may paint a key's effect late.
export async function shotUntil(what, name, window, check, timeoutMs = 10000) {
  return waitFor(what, () => { const file = screenshot(name, window); return check(file) && file; }, timeoutMs, 250);
}

// A HOME prepared like a user's who has run OBS before: no first-run wizard, no exit prompt,
// obs-websocket on with a known port and password, and this build of Quillmar installed.
// A given dir keeps what it holds (notes, scenes, the user's OBS settings); only the module is renewed.
export async function makeHome({ light = false, dir = null } = {}) {
  const home = dir || fs.mkdtempSync(path.join(os.tmpdir(), 'quillmar-e2e-'));
  const config = path.join(home, '.config/obs-studio');
  const globalIni = path.join(config, 'global.ini');
  const fresh = !fs.existsSync(globalIni);
  const plugin = path.join(config, 'plugins/quillmar');
  // QUILLMAR_E2E_MODULE: unset for this build, "system" for the one installed by the package
  // (nothing in the HOME), or a .tar.gz unpacked into the per-user plug-in folder as a user would.
  const from = process.env.QUILLMAR_E2E_MODULE || '';
  fs.rmSync(plugin, { recursive: true, force: true });
  if (from.endsWith('.tar.gz')) {
    fs.mkdirSync(path.dirname(plugin), { recursive: true });
    execFileSync('tar', ['-xzf', path.resolve(checkout, from), '-C', path.dirname(plugin)]);
  } else if (from !== 'system') {
    fs.mkdirSync(path.join(plugin, 'bin/64bit'), { recursive: true });
    fs.copyFileSync(path.join(buildDir, 'quillmar.so'), path.join(plugin, 'bin/64bit/quillmar.so'));
    fs.cpSync(path.join(checkout, 'data'), path.join(plugin, 'data'), { recursive: true });
  }
  const port = await freePort();
  const password = randomBytes(12).toString('hex');
  fs.mkdirSync(path.join(config, 'plugin_config/obs-websocket'), { recursive: true });
  fs.writeFileSync(path.join(config, 'plugin_config/obs-websocket/config.json'), JSON.stringify({
    server_enabled: true, server_port: port, auth_required: true, server_password: password,
    alerts_enabled: false, first_load: false,
  }));
  // OBS 31 and newer keep these per-user settings in user.ini; OBS 30 ignores that file.
  if (fresh) for (const ini of [globalIni, path.join(config, 'user.ini')]) fs.writeFileSync(ini, [
    '[General]', 'FirstRun=true', 'ConfirmOnExit=false', 'EnableAutoUpdates=false',
    '[BasicWindow]', 'SysTrayEnabled=false',
    ...(light ? ['[Appearance]', 'Theme=com.obsproject.Yami.Light'] : []), '',
  ].join('\n'));
  return { home, config, port, password, moduleConfig: path.join(config, 'plugin_config/quillmar') };
}

export class Obs {
  constructor(home) {
    this.home = home;
    this.ws = new OBSWebSocket();
    this.logFile = path.join(home.home, `obs-${Date.now()}.out`);
  }

  static async start(home) {
    const obs = new Obs(home || await makeHome());
    await obs.launch();
    return obs;
  }

  async launch() {
    const out = fs.openSync(this.logFile, 'w');
    this.child = spawn('obs', ['--disable-shutdown-check', '--disable-updater', '--verbose', '--multi'], {
      env: {
        ...process.env, HOME: this.home.home, LIBGL_ALWAYS_SOFTWARE: '1', QT_QPA_PLATFORM: 'xcb',
        ...(fs.existsSync(crashTrace) ? { LD_PRELOAD: crashTrace } : {}),
      },
      stdio: ['ignore', out, out],
      cwd: this.home.home,
    });
    fs.closeSync(out);
    running.add(this.child);
    this.exited = new Promise((resolve) => this.child.on('exit', (code, signal) => {
      running.delete(this.child);
      // A crash or a failed exit shows where it happened, not only that it did.
      if (code !== 0) console.log(`OBS exited with ${signal || code}; the end of ${this.logFile}:\n`
        + this.log().split('\n').slice(-80).join('\n'));
      resolve({ code, signal });
    }));
    await waitFor('obs-websocket', async () => {
      if (this.child.exitCode !== null) throw new Error(`OBS exited early, see ${this.logFile}`);
      await this.ws.connect(`ws://127.0.0.1:${this.home.port}`, this.home.password);
      return true;
    }, 60000, 250);
    // The socket opens before OBS has loaded its collection; until then requests are refused.
    await waitFor('OBS to be ready', async () => { await this.ws.call('GetSceneList'); return true; }, 60000, 250);
    await waitFor('the main window', () => this.mainWindow(), 20000);
    // OBS 32 answers obs-websocket while its user-interface thread is still starting up, and a
    // scene created then deadlocks it: OBS's new-scene handler waits for that thread, which
    // waits for the signal the handler holds. The module answers on that thread once it runs.
    await waitFor('OBS to finish starting', () => this.uiAnswers(), 60000, 250);
  }

  log() {
    return fs.readFileSync(this.logFile, 'utf8');
  }

  mainWindow() {
    try { return xdotool('search', '--name', '^OBS [0-9]').split('\n')[0]; } catch { return ''; }
  }

  dockWindow() {
    try { return xdotool('search', '--name', '^Quillmar$').split('\n')[0]; } catch { return ''; }
  }

  // Shows the dock the way a user does: the Docks menu, whose last entry is the plug-in dock.
  async showDock({ width = 820, height = 560, x = 1095, y = 0 } = {}) {
    if (!this.dockWindowVisible()) {
      const main = this.mainWindow();
      xdotool('windowfocus', '--sync', main);
      xdotool('key', 'alt+d');
      await sleep(400);
      xdotool('key', 'Up', 'Return');
      await waitFor('the Quillmar dock', () => this.dockWindowVisible(), 10000);
    }
    const dock = this.dockWindow();
    xdotool('windowsize', dock, width, height);
    xdotool('windowmove', dock, x, y);
    // Under load Qt has been seen to leave a dock moved like this unpainted: its keys work, the
    // screen keeps what was there before. Mapping it again exposes all of it, so Qt paints it whole.
    xdotool('windowunmap', '--sync', dock);
    xdotool('windowmap', '--sync', dock);
    // Without a window manager nothing keeps a restored floating dock above the main window or
    // hands it the keyboard (OBS 32 maps the main window after the dock).
    xdotool('windowraise', dock);
    xdotool('windowfocus', '--sync', dock);
    await sleep(500);
    return dock;
  }

  dockWindowVisible() {
    try { return xdotool('search', '--onlyvisible', '--name', '^Quillmar$').split('\n')[0]; } catch { return ''; }
  }

  // A request OBS never answers (a modal dialog, a hang) fails the test instead of stalling it.
  async call(request, data, timeoutMs = 15000) {
    let timer;
    const timeout = new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error(`${request} got no answer in ${timeoutMs} ms; log: ${this.logFile}`)), timeoutMs);
    });
    try {
      return await Promise.race([this.ws.call(request, data), timeout]);
    } finally {
      clearTimeout(timer);
    }
  }

  hotkey(name) {
    return this.call('TriggerHotkeyByName', { hotkeyName: `Quillmar.${name}` });
  }

  // Returns once OBS's user-interface thread has handled what reached OBS before (the module
  // answers its requests there, even refused ones), so keys just typed are in the dock.
  async settle() {
    for (let i = 0; i < 2; ++i) await this.uiAnswers();
  }

  // Whether OBS's user-interface thread took a request to the module (not left it to time out).
  async uiAnswers() {
    const request = { vendorName: 'Quillmar', requestType: 'Request', requestData: { payload: '{}' } };
    const { responseData } = await this.call('CallVendorRequest', request);
    return JSON.parse(responseData.payload).code !== 'timeout';
  }

  // A clean quit: OBS treats SIGINT like closing its window.
  async stop({ timeoutMs = 30000 } = {}) {
    try { await this.ws.disconnect(); } catch { /* already closed */ }
    if (this.child.exitCode !== null || this.child.signalCode !== null) return this.exited;
    this.child.kill('SIGINT');
    const result = await Promise.race([this.exited, sleep(timeoutMs, null, { ref: false })]);
    if (!result) {
      this.child.kill('SIGKILL');
      await this.exited;
      throw new Error(`OBS did not exit within ${timeoutMs} ms; log: ${this.logFile}`);
    }
    return result;
  }
}

// The note files of a HOME, each with its file name.
export function notes(home) {
  const dir = path.join(home.moduleConfig, 'notes');
  if (!fs.existsSync(dir)) return [];
  return fs.readdirSync(dir).filter((f) => f.endsWith('.json'))
    .map((file) => ({ file, ...JSON.parse(fs.readFileSync(path.join(dir, file), 'utf8')) }));
}
export const noteOf = (home, uuid) => notes(home).find((n) => n.sceneId === uuid);
export const plain = (html = '') => html.replace(/<(style|head)[\s\S]*?<\/\1>/g, '').replace(/<[^>]*>/g, '')
  .replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"').replace(/&nbsp;/g, ' ').replace(/&amp;/g, '&').trim();
// The plain text of a scene's note, '' without one.
export const noteText = (home, uuid) => plain(noteOf(home, uuid)?.html);
// OBS's saved scene collection.
export const collection = (home, name = 'Untitled') =>
  JSON.parse(fs.readFileSync(path.join(home.config, `basic/scenes/${name}.json`), 'utf8'));

export function geometry(window) {
  const g = Object.fromEntries(xdotool('getwindowgeometry', '--shell', window).split('\n').map((l) => l.split('=')));
  return { x: Number(g.X), y: Number(g.Y), width: Number(g.WIDTH), height: Number(g.HEIGHT) };
}

// Scene UUIDs by name.
export async function sceneUuids(obs) {
  const { scenes } = await obs.call('GetSceneList');
  return Object.fromEntries(scenes.map((s) => [s.sceneName, s.sceneUuid]));
}

// A HOME whose scene "Show" holds a long note of numbered paragraphs: OBS makes the scene and
// the module its note file, then the file gets the long text while OBS is down.
export async function homeWithLongNote({ light = false, paragraphs = 200 } = {}) {
  const home = await makeHome({ light });
  const obs = await Obs.start(home);
  try {
    await obs.call('CreateScene', { sceneName: 'Show' });
    await obs.call('SetCurrentProgramScene', { sceneName: 'Show' });
    await obs.showDock();
    await typeIntoDock(obs, 'x');
    await waitFor('the note file', () => notes(home).length === 1);
  } finally {
    const { code, signal } = await obs.stop();
    if (code !== 0) throw new Error(`OBS exited with ${signal || code}`);
  }
  const [{ file, ...note }] = notes(home);
  note.html = Array.from({ length: paragraphs }, (_, i) => `<p>Line ${i + 1}: read this aloud, slowly.</p>`).join('');
  fs.writeFileSync(path.join(home.moduleConfig, 'notes', file), JSON.stringify(note));
  return home;
}

// Clicks into the middle of the dock's editor and types at the end of the note, as a user would.
export async function typeIntoDock(obs, text, delay = 20) {
  const g = geometry(obs.dockWindow());
  xdotool('mousemove', g.x + Math.floor(g.width / 2), g.y + Math.floor(g.height / 2));
  xdotool('click', 1);
  await sleep(200);
  xdotool('key', 'ctrl+End');
  xdotool('type', '--delay', delay, text);
}
