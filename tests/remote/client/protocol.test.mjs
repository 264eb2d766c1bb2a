// The page's obs-websocket side: hashing, sign-in, requests, events, and the request pipeline
// that keeps saves, loads and the lease straight.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash, randomBytes } from 'node:crypto';
import { readFileSync } from 'node:fs';
import {
  sha256, base64, secretOf, authenticationOf, Connection, LoadQueue, SaveQueue, LeaseWatch,
  resumeSession,
} from '../../../src/remote/client/protocol.mjs';

const hex = (bytes) => Buffer.from(bytes).toString('hex');

// Text (one to four UTF-8 bytes a character) goes through the sign-in.
test('SHA-256 agrees with Node around every block boundary and on a million bytes; so does the sign-in', () => {
  for (let length = 0; length < 300; length++) {
    const bytes = randomBytes(length);
    assert.equal(hex(sha256(bytes)), createHash('sha256').update(bytes).digest('hex'), `length ${length}`);
  }
  assert.equal(hex(sha256('a'.repeat(1000000))), 'cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0');
  // The authentication string follows obs-websocket's formula.
  const b64 = (s) => createHash('sha256').update(s, 'utf8').digest('base64');
  const password = 'pässwörd € \u{1F511}';
  const salt = 'lM1GncleQOaCu9lT1yeUZhFYnqhsLLP1G5lAGo3ixaI=';
  const challenge = '+IxH4CnCiqpX1rM9scsNynZzbOe4KhDeYcTNS3PDaeY=';
  const secret = secretOf(password, salt);
  assert.equal(secret, b64(password + salt));
  assert.equal(authenticationOf(secret, challenge), b64(b64(password + salt) + challenge));
  assert.equal(base64(new Uint8Array([0xfb, 0xff])), '+/8=');
});

// A clock the tests move by hand.
function manualTimers() {
  let now = 0, id = 0;
  const due = new Map();
  return {
    setTimeout: (fn, ms) => (due.set(++id, [now + ms, fn]), id),
    clearTimeout: (i) => due.delete(i),
    advance(ms) {
      now += ms;
      for (const [i, [at, fn]] of [...due].sort((a, b) => a[1][0] - b[1][0])) if (at <= now && due.delete(i)) fn();
    },
  };
}

// One fake obs-websocket peer per connection.
function harness() {
  const timers = manualTimers(), sockets = [];
  class FakeSocket {
    constructor(url) { sockets.push(Object.assign(this, { url, readyState: 1, sent: [] })); }
    send(text) { this.sent.push(JSON.parse(text)); }
    close(code) { this.readyState = 3; this.onclose({ code }); }
    receive(message) { this.onmessage({ data: JSON.stringify(message) }); }
  }
  return { connection: new Connection({ url: 'ws://host:4455', WebSocket: FakeSocket, timers }), timers, socket: () => sockets.at(-1) };
}

async function signedIn() {
  const h = harness();
  const opened = h.connection.open({ password: 'pw' });
  h.socket().receive({ op: 0, d: { rpcVersion: 1, authentication: { salt: 'salt', challenge: 'challenge' } } });
  h.socket().receive({ op: 2, d: {} });
  await opened;
  h.socket().sent.length = 0;
  return h;
}

// What the server sends (a message, a close code, or a wait), and what the page ends with: its
// sign-in, or (for `call` rows, signed in first) the reply to its one vendor request.
test('signing in and vendor requests', async (t) => {
  const rows = JSON.parse(readFileSync(new URL('../../data/remote/sign_in.json', import.meta.url), 'utf8'));
  for (const [name, options, script, want] of rows) {
    await t.test(name, async () => {
      const call = options === 'call';
      const h = call ? await signedIn() : harness();
      const closes = [];
      h.connection.onClose = (code) => closes.push(code);
      const result = call ? h.connection.call({ action: 'GetState' }) : h.connection.open(options);
      for (const step of script) {
        if (typeof step === 'number') h.socket().close(step);
        else if (step.wait) h.timers.advance(step.wait);
        else h.socket().receive(step);
      }
      if (typeof want === 'string') await assert.rejects(result, { code: want });
      else assert.deepEqual(await result, want);
      const { op, d } = h.socket().sent[0] ?? {};
      if (call) {
        assert.deepEqual([op, d.requestId, JSON.parse(d.requestData.requestData.payload)], [6, '1', { action: 'GetState' }]);
        assert.deepEqual(closes, name === 'connection lost' ? [1006] : []);
      } else if (typeof want !== 'string') {
        assert.deepEqual({ op, d }, { op: 1, d: { rpcVersion: 1, eventSubscriptions: 512, authentication: authenticationOf(want.secret, 'challenge') } });
      }
    });
  }
});

test('only Quillmar\'s two vendor events with an object payload pass', async () => {
  const h = await signedIn();
  const seen = [];
  h.connection.onEvent = (type, data) => seen.push([type, data]);
  const event = (vendorName, eventType, payload, outer = 'VendorEvent') => h.socket().receive({ op: 5,
    d: { eventType: outer, eventIntent: 512, eventData: { vendorName, eventType, eventData: { payload } } } });
  for (const args of [['Quillmar', 'Changed', '{"epoch":"e"}'], ['Quillmar', 'Scroll', '{"position":0.5}'], ['Other', 'Changed', '{"epoch":"x"}'],
    ['Quillmar', 'Secret', '{"a":1}'], ['Quillmar', 'Changed', 'not json'], ['Quillmar', 'Changed', '[1]'],
    ['Quillmar', 'Changed', '{"epoch":"y"}', 'SceneCreated']]) event(...args);
  assert.deepEqual(seen, [['Changed', { epoch: 'e' }], ['Scroll', { position: 0.5 }]]);
});

// A request function whose replies the test releases one by one.
function controlled() {
  const calls = [];
  return { calls, send: (arg) => new Promise((resolve, reject) => calls.push({ arg, resolve, reject })) };
}

test('a burst of change notices makes at most one more load of the scene', async () => {
  const c = controlled(), queue = new LoadQueue(c.send);
  const [first, burst, other] = [queue.load('A'), [1, 2, 3, 4, 5].map(() => queue.load('A')), queue.load('B')];
  assert.deepEqual(c.calls.map((x) => x.arg), ['A', 'B']);
  c.calls[0].resolve('A1');
  assert.equal(await first, 'A1');
  await Promise.resolve();
  assert.deepEqual(c.calls.map((x) => x.arg), ['A', 'B', 'A']);
  c.calls[2].resolve('A2');
  assert.deepEqual(await Promise.all(burst), ['A2', 'A2', 'A2', 'A2', 'A2']);
  c.calls[1].resolve('B1');
  assert.equal(await other, 'B1');
  queue.load('A');
  assert.equal(c.calls.length, 4);
});

test('one save in flight; the next quotes the revision the first one got', async () => {
  const c = controlled(), queue = new SaveQueue(c.send, 7);
  const [first, second, third] = [queue.save(), queue.save(), queue.save()];
  assert.deepEqual(c.calls.map((x) => x.arg), [7]);
  c.calls[0].resolve({ ok: true, revision: 8 });
  await first;
  await new Promise((r) => setImmediate(r));
  assert.deepEqual(c.calls.map((x) => x.arg), [7, 8]);
  c.calls[1].resolve({ ok: true, revision: 9 });
  assert.deepEqual([await second, await third].map((r) => r.revision), [9, 9]);
  assert.deepEqual([queue.revision, queue.busy], [9, false]);

  const failing = new SaveQueue(c.send, 1);
  const [a, b] = [failing.save(), failing.save()];
  c.calls[2].reject(Object.assign(new Error('conflict'), { code: 'conflict' }));
  await assert.rejects(a, { code: 'conflict' });
  await assert.rejects(b, { code: 'conflict' });
  assert.equal(c.calls.length, 3);
});

test('keep-alive replies and the lease the page may hold without knowing', async (t) => {
  // Each row: the page's steps, the server's reply, the page's state over an idle one, the verdict.
  const rows = JSON.parse(readFileSync(new URL('../../data/remote/lease_watch.json', import.meta.url), 'utf8'));
  for (const [name, steps, reply, state, want] of rows) {
    await t.test(name, () => {
      const watch = new LeaseWatch();
      let stamp = null;
      for (const step of steps) {
        if (step === 'stamp') stamp = watch.keepAliveSent();
        else watch[step === 'sent' ? 'acquireSent' : 'acquireSettled']();
      }
      const page = { editing: false, epoch: 'e', uploading: false, ...state };
      assert.equal(watch.judge(reply, stamp ?? watch.keepAliveSent(), page), want);
    });
  }
});

test('a reconnect gives back the lease it left behind before it reads the state', async (t) => {
  // A module that runs the requests waiting at each turn newest first, as obs-websocket may.
  const module = (holder, sent = [], waiting = []) => ({ sent, send: (action) => new Promise((resolve) => {
    sent.push(action);
    waiting.push(() => {
      if (action === 'ReleaseEdit' && holder === 'me') holder = '';
      resolve(action === 'KeepAlive' ? { editing: holder === 'me', epoch: 'e' } : { epoch: 'e', editor: holder });
    });
    setImmediate(() => { while (waiting.length) waiting.pop()(); });
  }) });
  const rows = [['the lease left behind', 'me', 'ReleaseEdit', ''], ['no lease', '', 'GetState', ''],
    ['another device edits', 'other', 'GetState', 'other']];
  for (const [name, holder, read, editor] of rows) {
    const m = module(holder);
    await t.test(name, async () => assert.deepEqual([(await resumeSession(m.send, new LeaseWatch())).editor, ...m.sent],
      [editor, 'KeepAlive', read]));
  }
});
