// Starts OBS Studio with this build of Quillmar in a lasting HOME (out/obs-home), shows the dock,
// writes a screenshot, and keeps OBS running until it is closed, interrupted, or
// QUILLMAR_RUN_SECONDS have passed.
import path from 'node:path';
import fs from 'node:fs';
import { Obs, makeHome, screenshot } from './lib/obs.mjs';

const dir = path.resolve(process.env.QUILLMAR_OBS_HOME || 'out/obs-home');
fs.mkdirSync(dir, { recursive: true });
const home = await makeHome({ dir });
const obs = await Obs.start(home);
await obs.showDock();
const shot = screenshot('quillmar-obs');
const out = path.resolve('out/quillmar-obs.png');
fs.copyFileSync(shot, out);
console.log(`OBS Studio is running with Quillmar (log: ${obs.logFile}).`);
console.log(`Screenshot: ${out}`);
console.log(`obs-websocket: ws://127.0.0.1:${home.port}, password ${home.password}`);
const seconds = Number(process.env.QUILLMAR_RUN_SECONDS || 0);
const stop = () => { obs.stop().catch((e) => console.error(e.message)); };
process.on('SIGINT', stop);
process.on('SIGTERM', stop);
if (seconds > 0) setTimeout(stop, seconds * 1000);
const result = await obs.exited;
console.log(`OBS exited with ${result.code ?? result.signal}`);
