// Benchmark, run by hand: scripts/e2e.sh bench/app_first_note.mjs
// The browser app on loopback: the time from opening the link to the first note shown (the
// page's "quillmar-first-note" mark on Chromium's performance timeline, signed in with a
// remembered credential as a returning phone is), and the size of everything the page loads.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { randomBytes } from 'node:crypto';
import { Obs, makeHome, waitFor } from '../tests/e2e/lib/obs.mjs';
import { serveClient, openBrowser, vendorClient, signIn, enableRemote } from '../tests/e2e/lib/app_page.mjs';

const cleanup = [];
after(async () => { for (const step of cleanup.reverse()) await step().catch(() => {}); });
const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];

test('first note shown and bytes served', async () => {
  const home = await makeHome();
  const token = randomBytes(16).toString('base64url');
  enableRemote(home, token);
  const obs = await Obs.start(home);
  cleanup.push(() => obs.stop());
  const { currentProgramSceneUuid: scene } = await obs.call('GetCurrentProgramScene');
  // A note of 300 paragraphs, a typical script.
  const call = await vendorClient(obs, token);
  const doc = await call('GetDocument', { scene });
  await call('AcquireEdit', { scene, epoch: doc.epoch, revision: doc.revision });
  const blocks = Array.from({ length: 300 }, (_, i) => ({ ...doc.blocks[0], runs: [{ text: `Paragraph ${i + 1} of the script, `
    + 'with a sentence of ordinary length to read aloud.', weight: 400, italic: false, underline: false, strike: false,
  size: 0, family: '', color: '', background: '' }] }));
  assert.equal((await call('SaveDocument', { scene, epoch: doc.epoch, revision: doc.revision, document: { blocks } })).ok, true);
  await call('ReleaseEdit');

  const module = process.env.QUILLMAR_APP_SERVER === 'module';
  const server = module ? { origin: `http://127.0.0.1:${home.port + 1}` } : await serveClient(home.port);
  if (!module) cleanup.push(() => server.close());
  const browser = await openBrowser();
  cleanup.push(() => browser.close());
  const page = await browser.page();
  await signIn(page, server.origin, token, home.password);
  await waitFor('the first sign-in', () => page.$eval('#document', (el) => el.children.length === 300));

  const times = [];
  let resources = [];
  for (let i = 0; i < 15; i++) {
    await page.goto('about:blank');
    await page.goto(`${server.origin}/#${token}`);
    // Polled from outside: the page's policy refuses the evaluated predicates of waitForFunction.
    await waitFor('the first note', () => page.evaluate(() => performance.getEntriesByName('quillmar-first-note').length > 0),
      20000, 20);
    times.push(await page.evaluate(() => performance.getEntriesByName('quillmar-first-note')[0].startTime));
    resources = await page.evaluate(() => [performance.getEntriesByType('navigation')[0],
      ...performance.getEntriesByType('resource')].map((e) => [e.name, e.encodedBodySize]));
  }
  const origin = new URL(server.origin).origin;
  const foreign = resources.filter(([url]) => new URL(url).origin !== origin);
  const loaded = resources.reduce((n, [, size]) => n + size, 0);
  const clientDir = path.resolve('src/remote/client');
  const all = fs.readdirSync(clientDir).reduce((n, f) => n + fs.statSync(path.join(clientDir, f)).size, 0);
  console.log(`server: ${module ? 'the module' : 'the test helper'}`);
  console.log(`first note shown (ms from opening the link), 15 runs: median ${median(times).toFixed(1)}, `
    + `min ${Math.min(...times).toFixed(1)}, max ${Math.max(...times).toFixed(1)}`);
  for (const [url, size] of resources) console.log(`  ${new URL(url).pathname.padEnd(24)} ${size} bytes`);
  console.log(`loaded by the page: ${loaded} bytes; every client file: ${all} bytes (aim: under 153600)`);
  console.log(`requests beyond the app's own files: ${foreign.length}`);
  assert.deepEqual(foreign, []);
});
