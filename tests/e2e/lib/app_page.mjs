// The browser app in headless Chromium against a running OBS, and the obs-websocket clients that
// stand in for other phones. A small server here serves src/remote/client with the module's
// headers and a /config.json that points the page at a relay to OBS's obs-websocket port;
// moduleThroughRelay sends the module's own page through such a relay.
import http from 'node:http';
import net from 'node:net';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import OBSWebSocket from 'obs-websocket-js/json';
import { artifactDir } from './obs.mjs';

const checkout = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../..');
const clientDir = path.join(checkout, 'src/remote/client');
const TYPES = { '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.png': 'image/png',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json', '.mjs': 'text/javascript; charset=utf-8' };
// Every file of the client as the module serves it: [address, file name, type].
export const clientFiles = () => fs.readdirSync(clientDir).sort()
  .map((file) => [file === 'index.html' ? '/' : `/${file}`, file, TYPES[path.extname(file)]]);

function localeTexts() {
  const texts = {};
  for (const line of fs.readFileSync(path.join(checkout, 'data/locale/en-US.ini'), 'utf8').split('\n')) {
    const m = /^(\w+)="(.*)"$/.exec(line.trim());
    if (m) texts[m[1]] = m[2];
  }
  return texts;
}

// A TCP relay to obs-websocket that the test can cut, as Wi-Fi does.
async function relay(target) {
  const pairs = new Set();
  let refuseUntil = 0;
  const server = net.createServer((client) => {
    if (Date.now() < refuseUntil) {
      client.destroy();
      return;
    }
    const upstream = net.connect(target, '127.0.0.1');
    const pair = [client, upstream];
    pairs.add(pair);
    const drop = () => { pairs.delete(pair); client.destroy(); upstream.destroy(); };
    client.on('error', drop).on('close', drop);
    upstream.on('error', drop).on('close', drop);
    client.pipe(upstream);
    upstream.pipe(client);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    port: server.address().port,
    cut(ms) {
      refuseUntil = Date.now() + ms;
      for (const [a, b] of [...pairs]) { a.destroy(); b.destroy(); }
    },
    close: () => new Promise((r) => { for (const [a, b] of pairs) { a.destroy(); b.destroy(); } server.close(r); }),
  };
}

// Serves the client files as the module does (same headers), counting what it serves; the
// page reaches obs-websocket through a relay that cut() interrupts.
export async function serveClient(obsPort) {
  const served = [];
  const link = await relay(obsPort);
  const wsPort = link.port;
  const server = http.createServer((req, res) => {
    const address = server.address();
    const headers = { 'Cache-Control': 'no-store', 'X-Content-Type-Options': 'nosniff', 'Referrer-Policy': 'no-referrer',
      'Content-Security-Policy': "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; connect-src 'self' "
        + `ws://${address.address}:${wsPort}; img-src 'self'; manifest-src 'self'; base-uri 'none'; frame-ancestors 'none'; form-action 'none'` };
    let body;
    let type;
    if (req.method === 'GET' && req.url === '/config.json') {
      body = Buffer.from(JSON.stringify({ port: wsPort, labels: localeTexts(), version: '3.0.0' }));
      type = 'application/json';
    } else if (req.method === 'GET' && clientFiles().some(([address]) => address === req.url)) {
      const [, file, fileType] = clientFiles().find(([address]) => address === req.url);
      body = fs.readFileSync(path.join(clientDir, file));
      type = fileType;
    } else {
      res.writeHead(404, headers).end();
      return;
    }
    served.push([req.url, body.length]);
    res.writeHead(200, { ...headers, 'Content-Type': type, 'Content-Length': body.length, Connection: 'close' }).end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { origin: `http://127.0.0.1:${server.address().port}`, served, cut: (ms) => link.cut(ms),
    close: async () => { await link.close(); await new Promise((r) => server.close(r)); } };
}

// The module's own page, its obs-websocket traffic through a relay that cut() interrupts: the
// browser sees the module's /config.json and policy with the relay's port in place of OBS's.
export async function moduleThroughRelay(browser, origin, obsPort) {
  const link = await relay(obsPort);
  await browser.context.route(`${origin}/config.json`, async (route) => {
    const response = await route.fetch();
    await route.fulfill({ response, json: { ...(await response.json()), port: link.port } });
  });
  await browser.context.route(`${origin}/`, async (route) => {
    const response = await route.fetch();
    const headers = response.headers();
    headers['content-security-policy'] = headers['content-security-policy'].replace(`:${obsPort};`, `:${link.port};`);
    await route.fulfill({ response, headers });
  });
  return { origin, cut: (ms) => link.cut(ms), close: () => link.close() };
}

// A fresh Chromium profile; the page's console errors and refused requests are collected.
export async function openBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quillmar-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 375, height: 667 },
    // A page the test fulfils has no address, and Chromium would keep it from loopback.
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-features=LocalNetworkAccessChecks'],
  });
  const problems = [];
  const watch = (page) => {
    page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
    page.on('pageerror', (e) => problems.push(String(e)));
  };
  context.on('page', watch);
  for (const page of context.pages()) watch(page);
  return {
    context,
    problems,
    page: () => context.pages()[0] || context.newPage(),
    close: async () => {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Settings that start the remote service with a known token, the page on the next port.
export function enableRemote(home, token) {
  fs.mkdirSync(home.moduleConfig, { recursive: true });
  fs.appendFileSync(path.join(home.moduleConfig, 'settings.ini'),
    `\n[remote]\nenabled=true\naddress=127.0.0.1\nport=${home.port + 1}\naccess=${token}\n`);
}

// Opens the link and signs in with the obs-websocket password.
export async function signIn(page, origin, token, password) {
  await page.goto(`${origin}/#${token}`);
  await page.fill('#password', password);
  await page.click('#connect');
}

export async function shoot(page, name) {
  const file = path.join(artifactDir, `${name}.png`);
  await page.screenshot({ path: file });
  return file;
}

// One vendor request through the harness's obs-websocket client.
export const vendorCall = async (obs, request) => JSON.parse((await obs.call('CallVendorRequest', { vendorName: 'Quillmar',
  requestType: 'Request', requestData: { payload: JSON.stringify(request) } })).responseData.payload);

// A second remote device speaking the vendor protocol through the harness's obs-websocket client.
export async function vendorClient(obs, access, name = 'Tester') {
  const send = (request) => vendorCall(obs, { access, ...request });
  const { session } = await send({ action: 'Open', name });
  return (action, fields = {}) => send({ session, action, ...fields });
}

// Another phone on its own connection, closed with opened; its Quillmar events collect in events.
export async function vendorConnection(home, opened) {
  const ws = new OBSWebSocket();
  await ws.connect(`ws://127.0.0.1:${home.port}`, home.password, { eventSubscriptions: 512 });
  const events = [];
  ws.on('VendorEvent', ({ vendorName, eventType, eventData }) => {
    if (vendorName === 'Quillmar') events.push({ type: eventType, body: JSON.parse(eventData.payload) });
  });
  opened.push({ close: () => ws.disconnect() });
  return { events, send: (request) => vendorCall(ws, request) };
}
