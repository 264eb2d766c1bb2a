// Backup, restore and import through the dock in the real OBS, answered as a person answers the
// file dialogs and questions; and a restored note naming /dev/zero that OBS shows and survives.
import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, waitFor, xdotool, notes, noteOf, noteText, collection, geometry, sceneUuids, typeIntoDock } from './lib/obs.mjs';

const started = [];
// Each test's OBS ends with it: a failed test must not leave its dock for the next one to type into.
afterEach(async () => { while (started.length) await started.pop().stop().catch(() => {}); });

// Right-clicks the note and clicks an entry, given by its offset below the menu's top (the menu
// opens at the pointer).
const BackupAll = 340;
const Restore = 368;
async function menu(obs, offset, shot) {
  const g = geometry(obs.dockWindow());
  const [x, y] = [g.x + Math.floor(g.width / 2), g.y + Math.floor(g.height / 2)];
  xdotool('mousemove', x, y);
  xdotool('click', 3);
  await sleep(2000);
  if (shot) screenshot(shot);
  // Hovering highlights the entry; Return then runs it.
  xdotool('mousemove', x + 100, y + offset - 4);
  await sleep(200);
  xdotool('mousemove', x + 100, y + offset);
  await sleep(500);
  if (shot) screenshot(`${shot}-entry`);
  xdotool('key', 'Return');
  await sleep(500);
}

// Waits for a window by its exact title and gives it the keyboard.
async function windowTitled(title) {
  let id = '';
  await waitFor(`the window "${title}"`, () => {
    try { id = xdotool('search', '--onlyvisible', '--name', `^${title}$`).split('\n')[0]; } catch { id = ''; }
    return id;
  }, 30000, 200);
  xdotool('windowfocus', '--sync', id);
  await sleep(300);
  return id;
}

// The file dialog opens with its name field focused: the whole path goes there.
async function answerFileDialog(title, file) {
  // A click into the name field, which sits above the bottom row of the dialog.
  const d = geometry(await windowTitled(title));
  xdotool('mousemove', d.x + Math.floor(d.width / 2), d.y + d.height - 70);
  xdotool('click', 1);
  await sleep(200);
  xdotool('key', 'ctrl+a');
  xdotool('type', '--delay', 60, path.basename(file));
  await sleep(500);
  screenshot(`backup-dialog-${path.basename(file)}`);
  xdotool('key', 'Return');
  await sleep(1500);
}

async function answerYes(title) {
  await windowTitled(title);
  xdotool('key', 'alt+y');
}

test('back up, change, restore, import and survive a hostile note', async () => {
  const home = await makeHome();
  const obs = await Obs.start(home);
  started.push(obs);
  // The file dialogs open in OBS's working directory, its HOME: short names typed there leave
  // the dialog's completer no room to swallow keys.
  const work = home.home;
  for (const name of ['Alpha', 'Beta']) await obs.call('CreateScene', { sceneName: name });
  const { Alpha: alpha, Beta: beta } = await sceneUuids(obs);
  await obs.call('SetCurrentProgramScene', { sceneName: 'Beta' });
  await obs.showDock();
  await typeIntoDock(obs, 'beta original', 10);
  await waitFor('Beta note', () => noteText(home, beta) === 'beta original');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await sleep(400);
  await typeIntoDock(obs, 'alpha original', 10);
  await waitFor('Alpha note', () => noteText(home, alpha) === 'alpha original');

  // Back up all notes through the menu and the file dialog.
  await menu(obs, BackupAll, 'backup-context-menu');
  const archive = path.join(work, 'all.zip');
  await answerFileDialog('Back up all notes', archive);
  await waitFor('the backup archive', () => fs.existsSync(archive));
  const listing = execFileSync('unzip', ['-l', archive], { encoding: 'utf8' });
  assert.match(listing, /Alpha\.json/);
  assert.match(listing, /Beta\.json/);

  // Change one note, delete the other, then restore.
  await typeIntoDock(obs, ' changed', 10);
  await waitFor('the change saved', () => noteText(home, alpha) === 'alpha original changed');
  fs.unlinkSync(path.join(home.moduleConfig, 'notes', noteOf(home, beta).file));
  await menu(obs, Restore);
  await answerFileDialog('Restore a backup', archive);
  await windowTitled('Restore a backup');
  screenshot('backup-restore-question');
  xdotool('key', 'alt+y');
  await waitFor('both notes restored', () => noteText(home, alpha) === 'alpha original' && noteText(home, beta) === 'beta original');
  screenshot('backup-after-restore', obs.dockWindow());
  console.log('note files after restore:', notes(home).map((n) => `${n.file} -> ${n.sceneName} ${n.sceneId}`).join('; '));

  // A backed-up note naming /dev/zero as an image: restored, shown, and OBS keeps running.
  const hostile = path.join(work, 'h.json');
  fs.writeFileSync(hostile, JSON.stringify({
    format: 'OBS-Quillmar', html: '<p>hostile <img src="/dev/zero"> note</p>', sceneId: alpha, sceneName: 'Alpha', version: 1,
  }));
  await menu(obs, Restore);
  await answerFileDialog('Restore a backup', hostile);
  await answerYes('Restore a backup');
  await waitFor('the hostile note restored', () => noteText(home, alpha).startsWith('hostile'));
  await sleep(1000);
  const { obsVersion } = await obs.call('GetVersion');
  assert.ok(obsVersion, 'OBS still answers');
  assert.match(noteOf(home, alpha).html, /src="\/dev\/zero"/);
  screenshot('backup-hostile-restored', obs.dockWindow());

  // Imports through the dock's import button and its file dialog.
  const html = path.join(work, 's.html');
  fs.writeFileSync(html, '<h2>Imported heading</h2><p>An <b>HTML</b> script with a <i>list</i>:</p><ul><li>one</li><li>two</li></ul>');
  const docx = path.join(work, 'p.docx');
  fs.copyFileSync(path.resolve('tests/data/docx/pandoc.docx'), docx);
  const g = geometry(obs.dockWindow());
  const importButton = [g.x + Number(process.env.QUILLMAR_IMPORT_X || 87), g.y + Number(process.env.QUILLMAR_IMPORT_Y || 45)];
  screenshot('backup-dock-before-import', obs.dockWindow());
  for (const [file, expected] of [[html, 'Imported heading'], [docx, null]]) {
    xdotool('mousemove', ...importButton);
    xdotool('click', 1);
    await answerFileDialog('Import into this note', file);
    await answerYes('Replace this note');
    await sleep(1500);
    screenshot(`backup-import-${path.extname(file).slice(1)}`, obs.dockWindow());
    if (expected) await waitFor('the imported note', () => noteText(home, alpha).startsWith(expected));
  }

  assert.equal((await obs.stop()).code, 0);
  const links = collection(home).sources.filter((s) => s.private_settings?.quillmar)
    .map((s) => `${s.name}: ${JSON.stringify(s.private_settings.quillmar)}`);
  console.log('scene links:', links.join('; '));
  assert.equal(links.length, 2);
});
