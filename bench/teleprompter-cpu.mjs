// CPU of the OBS process while the dock scrolls a long note, against the same OBS idle, from
// /proc (user + system time). Run: scripts/root.sh run scripts/xvfb.sh node bench/teleprompter-cpu.mjs
// (after scripts/e2e.sh has installed the e2e packages). QUILLMAR_BENCH_ROUNDS sets the rounds.
import fs from 'node:fs';
import path from 'node:path';
import os from 'node:os';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, waitFor, xdotool } from '../tests/e2e/lib/obs.mjs';

const seconds = 20;
const rounds = Number(process.env.QUILLMAR_BENCH_ROUNDS || 2);
const ticksPerSecond = 100; // USER_HZ on Linux

function cpuTicks(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return Number(fields[11]) + Number(fields[12]); // utime, stime
}

// Percent of one core used over the next `seconds`.
async function measure(pid) {
  const before = cpuTicks(pid);
  const start = process.hrtime.bigint();
  await sleep(seconds * 1000);
  const wall = Number(process.hrtime.bigint() - start) / 1e9;
  return (100 * (cpuTicks(pid) - before)) / ticksPerSecond / wall;
}

const home = await makeHome();
let obs = await Obs.start(home);
try {
  await obs.call('CreateScene', { sceneName: 'Show' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Show' });
  await obs.showDock();
  xdotool('mousemove', 1495, 280);
  xdotool('click', 1);
  xdotool('type', 'x');
  const notes = path.join(home.moduleConfig, 'notes');
  await waitFor('the note file', () => fs.existsSync(notes) && fs.readdirSync(notes).length === 1);
  await obs.stop();
  const file = path.join(notes, fs.readdirSync(notes)[0]);
  const note = JSON.parse(fs.readFileSync(file, 'utf8'));
  note.html = Array.from({ length: 1500 }, (_, i) => `<p>Line ${i + 1}: a sentence the presenter reads aloud at an even pace.</p>`).join('');
  fs.writeFileSync(file, JSON.stringify(note));

  obs = await Obs.start(home);
  await obs.showDock();
  const press = (name) => obs.call('TriggerHotkeyByName', { hotkeyName: `Quillmar.${name}` });
  await press('ToggleLock');
  await sleep(2000);
  const pid = obs.child.pid;
  console.log(`OBS pid ${pid}, ${os.cpus().length} cores, ${seconds} s per figure, % of one core`);
  console.log('round\tidle\t1.0x\t5.0x\t1.0x-idle\t5.0x-idle');
  for (let round = 1; round <= rounds; ++round) {
    await press('Top');
    const idle = await measure(pid);
    for (let i = 0; i < 40; ++i) await press('Slower');
    await press('StartScroll');
    const slow = await measure(pid);
    await press('Top');
    for (let i = 0; i < 40; ++i) await press('Faster');
    await press('StartScroll');
    const fast = await measure(pid);
    await press('PauseScroll');
    const f = (x) => x.toFixed(1);
    console.log(`${round}\t${f(idle)}\t${f(slow)}\t${f(fast)}\t${f(slow - idle)}\t\t${f(fast - idle)}`);
  }
} finally {
  await obs.stop().catch(() => {});
}
