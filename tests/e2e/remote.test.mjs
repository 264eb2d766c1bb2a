// Remote control in the real OBS: phones reach the notes through obs-websocket vendor requests on
// connections of their own, all at once, while the dock is typed into. The browser app's test covers
// one phone's whole path.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, waitFor, xdotool, noteText, sceneUuids } from './lib/obs.mjs';
import { enableRemote, vendorConnection } from './lib/app_page.mjs';

const started = [];
const clients = [];
after(async () => {
  for (const c of clients) await c.close().catch(() => {});
  for (const obs of started) await obs.stop().catch(() => {});
});

const token = randomBytes(16).toString('base64url');

const documentOf = (text) => ({
  editable: true,
  blocks: [{ align: 1, indent: 0, list: 0, listIndent: 1, listGroup: 0, listStart: 1,
    runs: [{ text, weight: 400, italic: false, underline: false, strike: false, size: 0, family: '', color: '', background: '' }] }],
});

async function startObs() {
  const home = await makeHome();
  enableRemote(home, token);
  const obs = await Obs.start(home);
  started.push(obs);
  for (const name of ['Alpha', 'Beta', 'Gamma']) await obs.call('CreateScene', { sceneName: name });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  return { home, obs, uuid: await sceneUuids(obs) };
}

test('eight clients hammer it while the dock types and scenes switch; OBS exits cleanly', async () => {
  const { home, obs, uuid } = await startObs();
  await obs.showDock();
  const target = uuid.Beta; // never shown, so only remote saves change it
  const accepted = [];
  const unanswered = [];
  let timeouts = 0;
  let malformed = 0;
  let stopping = false;
  const counts = new Array(8).fill(0);
  const codes = {};
  const scenes = [uuid.Alpha, uuid.Beta, uuid.Gamma];

  const connections = [];
  async function client(i) {
    const c = await vendorConnection(home, clients);
    connections.push(c);
    assert.deepEqual(await c.send({ access: token + 'x', action: 'Open' }), { ok: false, code: 'access' });
    const session = (await c.send({ access: token, action: 'Open', name: `hammer ${i}` })).session;
    let epoch = '';
    let revision = 0;
    for (let n = 0; n < 500; ++n) {
      const kind = n % 8;
      let request;
      if (kind === 0) request = { action: 'GetDocument', scene: target };
      else if (kind === 1) request = { action: 'AcquireEdit', scene: target, epoch, revision };
      else if (kind === 2 || kind === 3) request = { action: 'SaveDocument', scene: target, epoch, revision, document: documentOf(`client ${i} save ${n}`) };
      else if (kind === 4) request = { action: 'KeepAlive' };
      else if (kind === 5) request = { action: 'GetDocument', scene: scenes[n % 3] };
      else if (kind === 6) request = { action: 'Scroll', command: 'speed', speed: 1 + (n % 40) / 10 };
      else request = { action: n % 16 === 7 ? 'ReleaseEdit' : 'GetState' };
      const text = request.document ? request.document.blocks[0].runs[0].text : null;
      let reply;
      try {
        reply = await c.send({ access: token, session, ...request });
      } catch (e) {
        if (text) unanswered.push(text);
        if (stopping) return;
        throw e;
      }
      counts[i] = n + 1;
      if (typeof reply.ok !== 'boolean' || (!reply.ok && typeof reply.code !== 'string')) ++malformed;
      if (reply.code === 'timeout') ++timeouts;
      codes[reply.ok ? 'ok' : reply.code] = (codes[reply.ok ? 'ok' : reply.code] || 0) + 1;
      if (request.action === 'GetDocument' && request.scene === target && reply.ok) ({ epoch, revision } = reply);
      if (text && reply.ok) { accepted.push({ revision: reply.revision, text }); revision = reply.revision; }
    }
  }

  const typing = (async () => {
    const names = ['Alpha', 'Gamma'];
    for (let n = 0; !stopping && n < 200; ++n) {
      // Typing holds remote edits off for 2 s; pauses, the first one included, let the clients
      // take turns however fast they get through their requests.
      await sleep(n % 3 ? 300 : 2500);
      await obs.call('SetCurrentProgramScene', { sceneName: names[n % 2] }).catch(() => {});
      try { xdotool('type', '--delay', 30, 'typed '); } catch { /* OBS is gone */ }
    }
  })();
  const running = Array.from({ length: 8 }, (_, i) => client(i));
  await waitFor('most requests answered', () => counts.every((c) => c >= 400), 240000, 250);
  stopping = true;
  const result = await obs.stop({ timeoutMs: 60000 });
  await Promise.allSettled(running);
  await typing;
  console.log(`replies by code: ${JSON.stringify(codes)}; accepted saves: ${accepted.length}`);
  assert.equal(result.code, 0, 'clean exit');
  assert.equal(malformed, 0);
  assert.equal(timeouts, 0);
  assert.ok(accepted.length > 0, 'some saves were accepted');
  assert.ok(connections.every((c) => c.events.some((e) => e.type === 'Changed' && e.body.changed.includes(target))),
    'every connection heard of the saves');
  const last = accepted.reduce((x, y) => (y.revision > x.revision ? y : x));
  const onDisk = noteText(home, target);
  assert.ok(onDisk === last.text || unanswered.includes(onDisk), `disk "${onDisk}" vs last accepted "${last.text}"`);
});
