// obs-websocket connection, authentication and SHA-256, and the pieces of the vendor protocol
// that decide what the page may send when: one load per scene, one save at a time, and when a
// lease the page does not know it holds must be given back. Timers and the socket are
// injected so that tests drive them.

// ---------------------------------------------------------------------------------------------
// SHA-256 (FIPS 180-4) over the UTF-8 bytes of a text. Pages served over plain HTTP on a local
// network are not a secure context, so the browser's digest API is not there.

const K = new Uint32Array([
  0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
  0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
  0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
  0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
  0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
  0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
  0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
  0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
]);

export function sha256(input) {
  const data = typeof input === 'string' ? new TextEncoder().encode(input) : input;
  // Message, a 1 bit, zeros, and the bit length as 64 bits, to a multiple of 64 bytes.
  const length = Math.ceil((data.length + 9) / 64) * 64;
  const bytes = new Uint8Array(length);
  bytes.set(data);
  bytes[data.length] = 0x80;
  const view = new DataView(bytes.buffer);
  view.setUint32(length - 8, Math.floor(data.length / 0x20000000));
  view.setUint32(length - 4, (data.length * 8) >>> 0);
  const h = new Uint32Array([0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
    0x5be0cd19]);
  const w = new Uint32Array(64);
  const rotr = (x, n) => (x >>> n) | (x << (32 - n));
  for (let offset = 0; offset < length; offset += 64) {
    for (let i = 0; i < 16; i++) w[i] = view.getUint32(offset + i * 4);
    for (let i = 16; i < 64; i++) {
      const s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >>> 3);
      const s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >>> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    let [a, b, c, d, e, f, g, hh] = h;
    for (let i = 0; i < 64; i++) {
      const t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
      const t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g; g = f; f = e; e = (d + t1) >>> 0; d = c; c = b; b = a; a = (t1 + t2) >>> 0;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  const out = new Uint8Array(32);
  const outView = new DataView(out.buffer);
  h.forEach((v, i) => outView.setUint32(i * 4, v));
  return out;
}

export function base64(bytes) {
  let text = '';
  for (const b of bytes) text += String.fromCharCode(b);
  return btoa(text);
}

// obs-websocket's secret: Base64 of SHA-256 of password and salt.
export const secretOf = (password, salt) => base64(sha256(password + salt));
// What Identify carries: Base64 of SHA-256 of secret and challenge.
export const authenticationOf = (secret, challenge) => base64(sha256(secret + challenge));

export const validCredential = (c) => !!c && typeof c.salt === 'string' && c.salt.length <= 256
  && typeof c.secret === 'string' && /^[A-Za-z0-9+/]{43}=$/.test(c.secret);

// ---------------------------------------------------------------------------------------------
// The access token of the link

export const TOKEN_PATTERN = /^[A-Za-z0-9_-]{22}$/;

// The token from the address's fragment, else (only when there is no fragment at all) the one
// stored from an earlier visit. store: whether the fragment's token should be remembered.
export function accessFromAddress(hash, stored) {
  const fragment = String(hash || '').replace(/^#/, '');
  if (hash) return TOKEN_PATTERN.test(fragment) ? { token: fragment, store: true } : { token: null, store: false };
  return { token: TOKEN_PATTERN.test(stored || '') ? stored : null, store: false };
}

// ---------------------------------------------------------------------------------------------
// The connection

export class RemoteError extends Error {
  constructor(code) {
    super(code);
    this.code = code;
  }
}

const CONNECT_TIMEOUT = 10000;
const REQUEST_TIMEOUT = 6000;
// obs-websocket frames the page accepts: a 4 MiB document reply, JSON-escaped, fits.
const MAX_MESSAGE = 16 * 1024 * 1024;
const VENDOR_EVENTS = new Set(['Changed', 'Scroll']);

export class Connection {
  // options: url, WebSocket (constructor), timers {setTimeout, clearTimeout}; onEvent(type,
  // data) and onClose(code) are set by the owner.
  constructor({ url, WebSocket, timers = globalThis }) {
    this.url = url;
    this.WebSocket = WebSocket;
    this.timers = timers;
    this.pending = new Map();
    this.nextId = 1;
    this.identified = false;
    this.onEvent = () => {};
    this.onClose = () => {};
  }

  // Resolves with the credential {salt, secret} once identified (null without authentication
  // on the server... which the module refuses: "password-required").
  open({ password = '', credential = null } = {}) {
    return new Promise((resolve, reject) => {
      let settled = false;
      const fail = (code) => {
        if (settled) return;
        settled = true;
        this.timers.clearTimeout(timer);
        this.close();
        reject(new RemoteError(code));
      };
      const timer = this.timers.setTimeout(() => fail('timeout'), CONNECT_TIMEOUT);
      let kept = null;
      let socket;
      try {
        socket = new this.WebSocket(this.url);
      } catch {
        fail('connection');
        return;
      }
      this.socket = socket;
      socket.onmessage = (event) => {
        const message = parseMessage(event.data);
        if (!message) return;
        if (message.op === 0 && !settled) {
          const auth = message.d && message.d.authentication;
          if (!auth || typeof auth.salt !== 'string' || typeof auth.challenge !== 'string') {
            fail('password-required');
            return;
          }
          let secret = null;
          if (password) secret = secretOf(password, auth.salt);
          else if (validCredential(credential) && credential.salt === auth.salt) secret = credential.secret;
          password = ''; // forgotten at once
          if (!secret) {
            fail('authentication');
            return;
          }
          kept = { salt: auth.salt, secret };
          this.send({ op: 1, d: { rpcVersion: 1, eventSubscriptions: 512,
            authentication: authenticationOf(secret, auth.challenge) } });
        } else if (message.op === 2 && !settled) {
          settled = true;
          this.identified = true;
          this.timers.clearTimeout(timer);
          resolve(kept);
        } else if (message.op === 7) {
          this.answer(message.d);
        } else if (message.op === 5 && this.identified) {
          this.event(message.d);
        }
      };
      socket.onclose = (event) => {
        const code = event && event.code;
        if (!settled) fail(code === 4009 ? 'authentication' : 'connection');
        this.dropAll();
        if (this.identified) {
          this.identified = false;
          this.onClose(code);
        }
      };
      socket.onerror = () => {};
    });
  }

  send(message) {
    if (this.socket && this.socket.readyState === 1) this.socket.send(JSON.stringify(message));
  }

  // A vendor request; resolves with the reply object when it says "ok", else fails with its code.
  call(request) {
    return new Promise((resolve, reject) => {
      if (!this.identified) {
        reject(new RemoteError('disconnected'));
        return;
      }
      const id = String(this.nextId++);
      const timer = this.timers.setTimeout(() => {
        this.pending.delete(id);
        reject(new RemoteError('timeout'));
      }, REQUEST_TIMEOUT);
      this.pending.set(id, { resolve, reject, timer });
      this.send({ op: 6, d: { requestType: 'CallVendorRequest', requestId: id, requestData: {
        vendorName: 'Quillmar', requestType: 'Request', requestData: { payload: JSON.stringify(request) } } } });
    });
  }

  answer(d) {
    const entry = d && this.pending.get(d.requestId);
    if (!entry) return;
    this.pending.delete(d.requestId);
    this.timers.clearTimeout(entry.timer);
    const status = d.requestStatus || {};
    if (status.result !== true) {
      entry.reject(new RemoteError(typeof status.comment === 'string' && status.comment ? status.comment : 'request'));
      return;
    }
    const payload = d.responseData && d.responseData.responseData && d.responseData.responseData.payload;
    const reply = parseObject(payload);
    if (!reply) entry.reject(new RemoteError('response'));
    else if (reply.ok !== true) entry.reject(new RemoteError(typeof reply.code === 'string' ? reply.code : 'response'));
    else entry.resolve(reply);
  }

  event(d) {
    if (!d || d.eventType !== 'VendorEvent' || !d.eventData || d.eventData.vendorName !== 'Quillmar') return;
    const type = d.eventData.eventType;
    if (!VENDOR_EVENTS.has(type)) return;
    const data = parseObject(d.eventData.eventData && d.eventData.eventData.payload);
    if (data) this.onEvent(type, data);
  }

  dropAll() {
    for (const [id, entry] of this.pending) {
      this.timers.clearTimeout(entry.timer);
      this.pending.delete(id);
      entry.reject(new RemoteError('disconnected'));
    }
  }

  close() {
    const socket = this.socket;
    this.dropAll();
    if (socket && socket.readyState < 2) socket.close(1000);
    if (this.identified) {
      this.identified = false;
      this.onClose(1000);
    }
  }
}

function parseMessage(data) {
  if (typeof data !== 'string' || data.length > MAX_MESSAGE) return null;
  return parseObject(data);
}

function parseObject(text) {
  if (typeof text !== 'string') return null;
  try {
    const value = JSON.parse(text);
    return value && typeof value === 'object' && !Array.isArray(value) ? value : null;
  } catch {
    return null;
  }
}

// ---------------------------------------------------------------------------------------------
// Loads: one "GetDocument" in flight per scene. Notices that arrive meanwhile (the dock's user
// typing sends up to five a second) merge into one more load after it.

export class LoadQueue {
  constructor(fetch) {
    this.fetch = fetch;
    this.scenes = new Map();
  }

  // Resolves with a reply of a load that started after this call.
  load(scene) {
    let entry = this.scenes.get(scene);
    if (!entry) {
      entry = { next: null };
      this.scenes.set(scene, entry);
      return this.start(scene, entry);
    }
    if (!entry.next) entry.next = deferred();
    return entry.next.promise;
  }

  start(scene, entry) {
    const running = this.fetch(scene);
    const settle = () => {
      const next = entry.next;
      if (!next) {
        this.scenes.delete(scene);
        return;
      }
      entry.next = null;
      const again = this.start(scene, entry);
      again.then(next.resolve, next.reject);
    };
    running.then(settle, settle);
    return running;
  }
}

function deferred() {
  const d = {};
  d.promise = new Promise((resolve, reject) => Object.assign(d, { resolve, reject }));
  return d;
}

// ---------------------------------------------------------------------------------------------
// Saves: one "SaveDocument" in flight. A save that falls due meanwhile goes after the reply,
// quoting the revision that reply gave, so two saves never race on one revision.

export class SaveQueue {
  // send(revision) sends the current document and resolves with the reply; revision is the
  // document's revision when editing began.
  constructor(send, revision) {
    this.send = send;
    this.revision = revision;
    this.running = null;
    this.due = null;
  }

  get busy() {
    return !!this.running;
  }

  save() {
    if (this.running) {
      if (!this.due) this.due = deferred();
      return this.due.promise;
    }
    this.running = this.send(this.revision).then((reply) => {
      if (Number.isInteger(reply.revision)) this.revision = reply.revision;
      return reply;
    });
    const after = () => {
      this.running = null;
      const due = this.due;
      this.due = null;
      if (due) this.save().then(due.resolve, due.reject);
    };
    this.running.then(after, (error) => {
      // The edit ends on a failed save: whoever waits for a later one hears the same failure.
      this.running = null;
      const due = this.due;
      this.due = null;
      if (due) due.reject(error);
    });
    return this.running;
  }
}

// ---------------------------------------------------------------------------------------------
// The lease as the page sees it. A reply can be lost or come after the page gave up, and
// obs-websocket may run requests out of order, so an "AcquireEdit" may have won on the server
// while the page thinks it failed; keep-alives would then renew that lease for ever.

export class LeaseWatch {
  constructor() {
    this.acquiring = 0; // "AcquireEdit" requests without a reply
    this.generation = 0; // counts "AcquireEdit" outcomes
  }

  acquireSent() {
    this.acquiring += 1;
  }

  // After every "AcquireEdit" outcome, success, refusal, timeout or lost connection alike.
  acquireSettled() {
    this.acquiring = Math.max(0, this.acquiring - 1);
    this.generation += 1;
  }

  // Stamp for a "KeepAlive" about to be sent.
  keepAliveSent() {
    return this.generation;
  }

  // What a keep-alive reply asks of the page: "ignore" (sent before the latest acquire outcome),
  // "release" (the server holds a lease for this page that the page does not use), "conflict"
  // or "locked" (the edit is over), or null.
  judge(reply, stamp, { editing, epoch, uploading }) {
    if (stamp !== this.generation) return 'ignore';
    if (editing) {
      if (reply.editing !== true || reply.epoch !== epoch) return reply.locked === true ? 'locked' : 'conflict';
      return null;
    }
    if (reply.editing === true && this.acquiring === 0 && !uploading) return 'release';
    return null;
  }
}

// A reconnect that kept its session: a lease the page left behind when the connection dropped
// is given back before the page reads the state, and the state it reads is the release's own
// reply. A "GetState" sent beside the release may run first and name this page as someone
// else editing, and then Retry would not even ask for the lease. send(action) makes one request.
export async function resumeSession(send, lease) {
  const stamp = lease.keepAliveSent();
  const alive = await send('KeepAlive');
  if (lease.judge(alive, stamp, { editing: false, epoch: alive.epoch, uploading: false }) === 'release') {
    return send('ReleaseEdit');
  }
  return send('GetState');
}

// Reconnection delays: 1 s, doubling up to 10 s.
export const nextDelay = (delay) => Math.min(10000, Math.max(1000, delay * 2));
