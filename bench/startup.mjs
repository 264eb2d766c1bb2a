// What Quillmar costs OBS Studio: the time from launch to the main window shown, and OBS's
// resident memory 10 s later, with the module installed in the per-user plug-in folder and
// without it. Rounds alternate between the two so that a busy machine weighs on both alike.
// Run under X: scripts/bench-startup.sh (OBS 30 and the newest OBS), or
//   scripts/root.sh run scripts/xvfb.sh node bench/startup.mjs [ROUNDS]
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { makeHome, xdotool } from '../tests/e2e/lib/obs.mjs';

const rounds = Number(process.argv[2] || 5);
const settleMs = 10000;

function visibleMainWindow() {
  try { return xdotool('search', '--onlyvisible', '--name', '^OBS [0-9]').split('\n')[0]; } catch { return ''; }
}

function rssMiB(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
  return Number(/VmRSS:\s+(\d+) kB/.exec(status)[1]) / 1024;
}

// A start whose main window never shows is killed and counted; one such start in a run is
// forgiven (the machine may be starved), a second fails the run. QUILLMAR_STARTUP_HANG_MS
// shortens the wait, to try this out.
const hangMs = Number(process.env.QUILLMAR_STARTUP_HANG_MS) || 90000;
let hangs = 0;

async function once(home, label) {
  const out = fs.openSync(path.join(home.home, 'obs.out'), 'w');
  const started = process.hrtime.bigint();
  const child = spawn('obs', ['--disable-shutdown-check', '--disable-updater', '--multi'], {
    env: { ...process.env, HOME: home.home, LIBGL_ALWAYS_SOFTWARE: '1', QT_QPA_PLATFORM: 'xcb' },
    stdio: ['ignore', out, out], cwd: home.home,
  });
  fs.closeSync(out);
  const exited = new Promise((resolve) => child.on('exit', resolve));
  let hung = false;
  try {
    const deadline = Date.now() + hangMs;
    while (!visibleMainWindow()) {
      if (child.exitCode !== null) throw new Error(`OBS exited early, see ${home.home}/obs.out`);
      if (Date.now() > deadline) {
        hung = true;
        hangs++;
        child.kill('SIGKILL');
        await exited;
        console.log(`${label}: the main window never showed within ${hangMs / 1000} s; OBS (pid ${child.pid}) killed, `
          + `see ${home.home}/obs.out (${hangs} such start${hangs > 1 ? 's' : ''} in this run)`);
        if (hangs > 1) throw new Error('more than one start never showed its main window');
        return null;
      }
      await sleep(20);
    }
    const startMs = Number(process.hrtime.bigint() - started) / 1e6;
    await sleep(settleMs);
    return { startMs, rss: rssMiB(child.pid) };
  } finally {
    if (!hung) {
      child.kill('SIGINT');
      await Promise.race([exited, sleep(30000)]);
    }
    if (child.exitCode === null && child.signalCode === null) { child.kill('SIGKILL'); await exited; }
  }
}

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); const m = s.length >> 1; return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2; };

const withModule = await makeHome();
const without = await makeHome();
fs.rmSync(path.join(without.config, 'plugins/quillmar'), { recursive: true, force: true });
const version = execFileSync('obs', ['--version'], { encoding: 'utf8' }).trim();

// One start each first: OBS writes its profile and scene collection on the first run.
await once(withModule, 'first start with');
await once(without, 'first start without');
const runs = { with: [], without: [] };
for (let i = 0; i < rounds; i++) {
  for (const [name, home] of i % 2 ? [['without', without], ['with', withModule]] : [['with', withModule], ['without', without]]) {
    const r = await once(home, `round ${i + 1} ${name}`);
    if (!r) continue;
    runs[name].push(r);
    console.log(`round ${i + 1} ${name.padEnd(7)} start ${r.startMs.toFixed(0)} ms  rss ${r.rss.toFixed(1)} MiB`);
  }
}
for (const name of ['with', 'without']) if (!runs[name].length) throw new Error(`no start ${name} Quillmar showed its main window`);
const fig = (name) => ({ start: median(runs[name].map((r) => r.startMs)), rss: median(runs[name].map((r) => r.rss)) });
const a = fig('with'); const b = fig('without');
console.log(`${version}, ${rounds} rounds${hangs ? ` (${hangs} start that never showed its main window left out)` : ''}, medians:`);
console.log(`  without Quillmar: start ${b.start.toFixed(0)} ms, rss ${b.rss.toFixed(1)} MiB`);
console.log(`  with Quillmar:    start ${a.start.toFixed(0)} ms, rss ${a.rss.toFixed(1)} MiB`);
console.log(`  cost: start ${((a.start / b.start - 1) * 100).toFixed(1)} % (aim <= 5 %), rss ${(a.rss - b.rss).toFixed(1)} MiB (aim <= 20 MiB)`);
