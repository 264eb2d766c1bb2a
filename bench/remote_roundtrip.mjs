// Benchmark, run by hand: scripts/e2e.sh bench/remote_roundtrip.mjs
// The round trip of "GetDocument" through obs-websocket for a small note and for one at the
// limits, against obs-websocket's own "GetVersion" (the floor of any request) in the same run.
import { test, after } from 'node:test';
import fs from 'node:fs';
import path from 'node:path';
import { randomBytes } from 'node:crypto';
import { Obs, makeHome } from '../tests/e2e/lib/obs.mjs';

let obs;
after(async () => { if (obs) await obs.stop().catch(() => {}); });

const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];
async function time(n, fn) {
  const xs = [];
  for (let i = 0; i < n; ++i) {
    const t = process.hrtime.bigint();
    await fn();
    xs.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  return median(xs);
}

test('GetDocument against GetVersion', async () => {
  const home = await makeHome();
  const token = randomBytes(16).toString('base64url');
  fs.mkdirSync(home.moduleConfig, { recursive: true });
  fs.writeFileSync(path.join(home.moduleConfig, 'settings.ini'),
    `[remote]\nenabled=true\naddress=127.0.0.1\nport=${home.port + 1}\naccess=${token}\n`);
  obs = await Obs.start(home);
  await obs.call('CreateScene', { sceneName: 'Small' });
  await obs.call('CreateScene', { sceneName: 'Large' });
  const { scenes } = await obs.call('GetSceneList');
  const uuid = Object.fromEntries(scenes.map((s) => [s.sceneName, s.sceneUuid]));
  const send = async (request) => JSON.parse((await obs.call('CallVendorRequest', {
    vendorName: 'Quillmar', requestType: 'Request', requestData: { payload: JSON.stringify({ access: token, ...request }) },
  }, 60000)).responseData.payload);
  const session = (await send({ action: 'Open', name: 'bench' })).session;
  const run = (text) => ({ text, weight: 400, italic: false, underline: false, strike: false, size: 0, family: '', color: '', background: '' });
  const block = (text) => ({ align: 1, indent: 0, list: 0, listIndent: 1, listGroup: 0, listStart: 1, runs: [run(text)] });
  async function store(scene, blocks) {
    const doc = await send({ session, action: 'GetDocument', scene });
    const edit = { session, scene, epoch: doc.epoch, revision: doc.revision };
    await send({ ...edit, action: 'AcquireEdit' });
    const saved = await send({ ...edit, action: 'SaveDocument', document: { editable: true, blocks } });
    if (!saved.ok) throw new Error(`save: ${saved.code}`);
    await send({ session, action: 'ReleaseEdit' });
  }
  await store(uuid.Small, [block('A short note of a few words.')]);
  // 2000 paragraphs of 99 characters: the character limit (breaks count as characters).
  await store(uuid.Large, Array.from({ length: 2000 }, (_, i) => block((i % 2 ? 'b' : 'p').repeat(99))));

  const floor = await time(200, () => obs.call('GetVersion'));
  const small = await time(200, () => send({ session, action: 'GetDocument', scene: uuid.Small }));
  const large = await time(7, () => send({ session, action: 'GetDocument', scene: uuid.Large }));
  const largeCold = await time(5, async () => {
    await send({ session, action: 'GetDocument', scene: uuid.Small });
    return send({ session, action: 'GetDocument', scene: uuid.Large });
  });
  console.log(`GetVersion ${floor.toFixed(3)} ms; GetDocument small ${small.toFixed(3)} ms (${(small / floor).toFixed(2)}x); `
    + `at the limits ${large.toFixed(1)} ms repeated, ${largeCold.toFixed(1)} ms after another note (both with a small one)`);
});
