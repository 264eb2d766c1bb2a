// The browser app in headless Chromium against a running OBS. Until the module serves the page
// itself, a small server here serves src/remote/client with the module's headers and a
// /config.json that points the page at OBS's obs-websocket port; QUILLMAR_APP_URL=module uses
// the module's own server instead.
import http from 'node:http';
import net from 'node:net';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { artifactDir } from './obs.mjs';

const checkout = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../..');
const clientDir = path.join(checkout, 'src/remote/client');
const TYPES = { '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8', '.png': 'image/png',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };
const FILES = ['/', '/style.css', '/app.mjs', '/protocol.mjs', '/document.mjs', '/prompter.mjs', '/prompter_view.mjs',
  '/manifest.webmanifest', '/icon.svg', '/icon-192.png', '/icon-512.png'];

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
export async function serveClient(obsPort, { uploadPort = null } = {}) {
  const served = [];
  const link = await relay(obsPort);
  const wsPort = link.port;
  const server = http.createServer((req, res) => {
    const address = server.address();
    const headers = { 'Cache-Control': 'no-store', 'X-Content-Type-Options': 'nosniff', 'Referrer-Policy': 'no-referrer',
      'Content-Security-Policy': "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; connect-src 'self' "
        + `ws://${address.address}:${wsPort}; img-src 'self'; manifest-src 'self'; base-uri 'none'; frame-ancestors 'none'; form-action 'none'` };
    if (req.method === 'POST' && req.url === '/import.docx' && uploadPort) {
      // The module accepts uploads from its own origin or from none; this page has another one.
      const { origin, ...headers } = req.headers;
      const forward = http.request({ host: '127.0.0.1', port: uploadPort, path: req.url, method: 'POST',
        headers: { ...headers, host: `127.0.0.1:${uploadPort}` } },
        (reply) => { res.writeHead(reply.statusCode, reply.headers); reply.pipe(res); });
      forward.on('error', () => res.destroy());
      req.pipe(forward);
      return;
    }
    let body;
    let type;
    if (req.method === 'GET' && req.url === '/config.json') {
      body = Buffer.from(JSON.stringify({ port: wsPort, labels: localeTexts(), version: '3.0.0' }));
      type = 'application/json';
    } else if (req.method === 'GET' && FILES.includes(req.url) && fs.existsSync(path.join(clientDir, req.url === '/' ? 'index.html' : req.url))) {
      body = fs.readFileSync(path.join(clientDir, req.url === '/' ? 'index.html' : req.url));
      type = TYPES[path.extname(req.url)] || (req.url === '/' ? TYPES['.html'] : 'text/javascript; charset=utf-8');
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

// A fresh Chromium profile; the page's console errors and refused requests are collected.
export async function openBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quillmar-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 375, height: 667 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
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

export async function shoot(page, name) {
  const file = path.join(artifactDir, `${name}.png`);
  await page.screenshot({ path: file });
  return file;
}

// A second remote device speaking the vendor protocol through the harness's obs-websocket client.
export async function vendorClient(obs, access, name = 'Tester') {
  const send = async (request) => JSON.parse((await obs.call('CallVendorRequest', { vendorName: 'Quillmar',
    requestType: 'Request', requestData: { payload: JSON.stringify({ access, ...request }) } })).responseData.payload);
  const { session } = await send({ action: 'Open', name });
  return (action, fields = {}) => send({ session, action, ...fields });
}

