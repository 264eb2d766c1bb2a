// Backup, restore and import through the dock in the real OBS, answered as a person answers the
// file dialogs and questions; and a restored note naming /dev/zero that OBS shows and survives.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, waitFor, xdotool } from './lib/obs.mjs';

const started = [];
after(async () => { for (const obs of started) await obs.stop().catch(() => {}); });

const notesDir = (home) => path.join(home.moduleConfig, 'notes');
function notes(home) {
  if (!fs.existsSync(notesDir(home))) return [];
  return fs.readdirSync(notesDir(home)).filter((f) => f.endsWith('.json'))
    .map((file) => ({ file, ...JSON.parse(fs.readFileSync(path.join(notesDir(home), file), 'utf8')) }));
}
const plain = (html) => html.replace(/<style[^]*?<\/style>/g, '').replace(/<[^>]*>/g, '').replace(/&nbsp;/g, ' ').trim();
const noteOf = (home, uuid) => notes(home).find((n) => n.sceneId === uuid);

function geometry(window) {
  const g = Object.fromEntries(xdotool('getwindowgeometry', '--shell', window).split('\n').map((l) => l.split('=')));
  return { x: Number(g.X), y: Number(g.Y), width: Number(g.WIDTH), height: Number(g.HEIGHT) };
}

async function sceneUuid(obs, name) {
  const { scenes } = await obs.call('GetSceneList');
  return scenes.find((s) => s.sceneName === name).sceneUuid;
}

// Right-clicks the note and picks an entry counted from the bottom of the menu
// (1 About, 2 Remote access, 3 Restore, 4 Back up all, 5 Back up this note).
async function menu(obs, fromBottom, shot) {
  const g = geometry(obs.dockWindow());
  xdotool('mousemove', g.x + Math.floor(g.width / 2), g.y + Math.floor(g.height / 2));
  xdotool('click', 3);
  await sleep(2000); // the machine may be busy: the menu must have the keyboard before the keys
  if (shot) screenshot(shot);
  for (let i = 0; i < fromBottom; i++) xdotool('key', 'Up');
  xdotool('key', 'Return');
  await sleep(800);
}

// The file dialog opens with its name field focused: the whole path goes there.
async function answerFileDialog(file) {
  await sleep(2000);
  xdotool('key', 'ctrl+a');
  xdotool('type', '--delay', 5, file);
  xdotool('key', 'Return');
  await sleep(800);
}

async function typeInto(obs, text) {
  const g = geometry(obs.dockWindow());
  xdotool('mousemove', g.x + Math.floor(g.width / 2), g.y + Math.floor(g.height / 2));
  xdotool('click', 1);
  await sleep(200);
  xdotool('key', 'ctrl+End');
  xdotool('type', '--delay', 10, text);
}

test('back up, change, restore, import and survive a hostile note', async () => {
  const home = await makeHome();
  const obs = await Obs.start(home);
  started.push(obs);
  const work = fs.mkdtempSync(path.join(home.home, 'files-'));
  for (const name of ['Alpha', 'Beta']) await obs.call('CreateScene', { sceneName: name });
  const alpha = await sceneUuid(obs, 'Alpha');
  const beta = await sceneUuid(obs, 'Beta');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Beta' });
  await obs.showDock();
  await typeInto(obs, 'beta original');
  await waitFor('Beta note', () => noteOf(home, beta) && plain(noteOf(home, beta).html) === 'beta original');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await sleep(400);
  await typeInto(obs, 'alpha original');
  await waitFor('Alpha note', () => noteOf(home, alpha) && plain(noteOf(home, alpha).html) === 'alpha original');

  // Back up all notes through the menu and the file dialog.
  await menu(obs, 4, 'backup-context-menu');
  const archive = path.join(work, 'all-notes.zip');
  await answerFileDialog(archive);
  await waitFor('the backup archive', () => fs.existsSync(archive));
  const listing = execFileSync('unzip', ['-l', archive], { encoding: 'utf8' });
  assert.match(listing, /Alpha\.json/);
  assert.match(listing, /Beta\.json/);

  // Change one note, delete the other, then restore.
  await typeInto(obs, ' changed');
  await waitFor('the change saved', () => plain(noteOf(home, alpha).html) === 'alpha original changed');
  fs.unlinkSync(path.join(notesDir(home), noteOf(home, beta).file));
  await menu(obs, 3);
  await answerFileDialog(archive);
  await sleep(2000);
  screenshot('backup-restore-question');
  xdotool('key', 'alt+y');
  await waitFor('both notes restored', () => noteOf(home, beta) && plain(noteOf(home, alpha).html) === 'alpha original'
    && plain(noteOf(home, beta).html) === 'beta original');
  screenshot('backup-after-restore', obs.dockWindow());
  console.log('note files after restore:', notes(home).map((n) => `${n.file} -> ${n.sceneName} ${n.sceneId}`).join('; '));

  // A backed-up note naming /dev/zero as an image: restored, shown, and OBS keeps running.
  const hostile = path.join(work, 'hostile.json');
  fs.writeFileSync(hostile, JSON.stringify({
    format: 'OBS-Quillmar', html: '<p>hostile <img src="/dev/zero"> note</p>', sceneId: alpha, sceneName: 'Alpha', version: 1,
  }));
  await menu(obs, 3);
  await answerFileDialog(hostile);
  await sleep(2000);
  xdotool('key', 'alt+y');
  await waitFor('the hostile note restored', () => plain(noteOf(home, alpha).html).startsWith('hostile'));
  await sleep(1000);
  const { obsVersion } = await obs.call('GetVersion');
  assert.ok(obsVersion, 'OBS still answers');
  assert.match(noteOf(home, alpha).html, /src="\/dev\/zero"/);
  screenshot('backup-hostile-restored', obs.dockWindow());

  // Imports through the dock's import button and its file dialog.
  const html = path.join(work, 'script.html');
  fs.writeFileSync(html, '<h2>Imported heading</h2><p>An <b>HTML</b> script with a <i>list</i>:</p><ul><li>one</li><li>two</li></ul>');
  const g = geometry(obs.dockWindow());
  const importButton = [g.x + Number(process.env.QUILLMAR_IMPORT_X || 87), g.y + Number(process.env.QUILLMAR_IMPORT_Y || 45)];
  screenshot('backup-dock-before-import', obs.dockWindow());
  for (const [file, expected] of [[html, 'Imported heading'], [path.resolve('tests/data/docx/pandoc.docx'), null]]) {
    xdotool('mousemove', ...importButton);
    xdotool('click', 1);
    await answerFileDialog(file);
    xdotool('key', 'alt+y');
    await sleep(1500);
    screenshot(`backup-import-${path.extname(file).slice(1)}`, obs.dockWindow());
    if (expected) await waitFor('the imported note', () => plain(noteOf(home, alpha).html).startsWith(expected));
  }

  assert.equal((await obs.stop()).code, 0);
  const collection = JSON.parse(fs.readFileSync(path.join(home.config, 'basic/scenes/Untitled.json'), 'utf8'));
  const links = collection.sources.filter((s) => s.private_settings?.quillmar)
    .map((s) => `${s.name}: ${JSON.stringify(s.private_settings.quillmar)}`);
  console.log('scene links:', links.join('; '));
  assert.equal(links.length, 2);
});
