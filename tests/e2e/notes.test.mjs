// Scene notes in the real OBS: typing goes to the shown scene's note file and nowhere else,
// links reach OBS's saved collection, renames move files, and a restart shows every note again.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, waitFor, xdotool } from './lib/obs.mjs';

const started = [];
after(async () => { for (const obs of started) await obs.stop().catch(() => {}); });

function notes(home) {
  const dir = path.join(home.moduleConfig, 'notes');
  if (!fs.existsSync(dir)) return [];
  return fs.readdirSync(dir).filter((f) => f.endsWith('.json')).map((file) => {
    const json = JSON.parse(fs.readFileSync(path.join(dir, file), 'utf8'));
    return { file, ...json };
  });
}

const noteOf = (home, uuid) => notes(home).find((n) => n.sceneId === uuid);
const plain = (html) => html.replace(/<[^>]*>/g, '').replace(/&nbsp;/g, ' ');

async function sceneUuid(obs, name) {
  const { scenes } = await obs.call('GetSceneList');
  return scenes.find((s) => s.sceneName === name).sceneUuid;
}

// Clicks into the dock's editor and types as a user would.
async function typeIntoDock(obs, text) {
  const dock = obs.dockWindow();
  const geometry = xdotool('getwindowgeometry', '--shell', dock);
  const g = Object.fromEntries(geometry.split('\n').map((l) => l.split('=')));
  xdotool('mousemove', Number(g.X) + Math.floor(Number(g.WIDTH) / 2), Number(g.Y) + Math.floor(Number(g.HEIGHT) / 2));
  xdotool('click', 1);
  await sleep(200);
  xdotool('key', 'ctrl+End');
  xdotool('type', '--delay', 20, text);
}

function collection(home, name = 'Untitled') {
  const file = path.join(home.config, `basic/scenes/${name}.json`);
  return JSON.parse(fs.readFileSync(file, 'utf8'));
}

test('notes follow the shown scene, survive renames and restarts', async () => {
  const home = await makeHome();
  let obs = await Obs.start(home);
  started.push(obs);
  await obs.call('CreateScene', { sceneName: 'Alpha' });
  await obs.call('CreateScene', { sceneName: 'Beta' });
  const alpha = await sceneUuid(obs, 'Alpha');
  const beta = await sceneUuid(obs, 'Beta');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await obs.showDock();

  await typeIntoDock(obs, 'alpha words');
  await waitFor('Alpha note', () => noteOf(home, alpha) && plain(noteOf(home, alpha).html).includes('alpha words'));

  await obs.call('SetCurrentProgramScene', { sceneName: 'Beta' });
  await sleep(300);
  await typeIntoDock(obs, 'beta words');
  await waitFor('Beta note', () => noteOf(home, beta) && plain(noteOf(home, beta).html).includes('beta words'));
  assert.ok(!plain(noteOf(home, alpha).html).includes('beta'), 'Beta text stayed out of Alpha');
  assert.ok(!plain(noteOf(home, beta).html).includes('alpha'), 'Alpha text stayed out of Beta');
  assert.equal(notes(home).length, 2);
  assert.equal(noteOf(home, alpha).sceneName, 'Alpha');
  assert.equal(noteOf(home, alpha).format, 'OBS-Quillmar');

  // In studio mode the dock follows the preview scene.
  await obs.call('SetStudioModeEnabled', { studioModeEnabled: true });
  await obs.call('SetCurrentPreviewScene', { sceneName: 'Alpha' });
  await sleep(300);
  await typeIntoDock(obs, ' previewed');
  await waitFor('preview edit in Alpha', () => plain(noteOf(home, alpha).html).includes('alpha words previewed'));
  assert.ok(!plain(noteOf(home, beta).html).includes('previewed'));
  await obs.call('SetStudioModeEnabled', { studioModeEnabled: false });

  // A rename moves the file and keeps the note.
  const before = noteOf(home, alpha).file;
  await obs.call('SetSceneName', { sceneName: 'Alpha', newSceneName: 'Opening' });
  await waitFor('renamed note file', () => noteOf(home, alpha)?.file === 'Opening.json');
  assert.ok(!fs.existsSync(path.join(home.moduleConfig, 'notes', before)));
  assert.equal(noteOf(home, alpha).sceneName, 'Opening');
  screenshot('notes-before-restart');

  assert.equal((await obs.stop()).code, 0);

  // OBS saved each scene's link in its private settings.
  const saved = collection(home);
  for (const [uuid, name] of [[alpha, 'Opening'], [beta, 'Beta']]) {
    const source = saved.sources.find((s) => s.uuid === uuid);
    assert.ok(source, `scene ${name} saved`);
    const link = source.private_settings?.quillmar;
    assert.ok(link, `scene ${name} has a link`);
    assert.equal(link.id, uuid);
    assert.equal(link.name, name);
    assert.equal(link.file, noteOf(home, uuid).file);
  }

  // After a restart every scene shows its note again.
  obs = await Obs.start(home);
  started.push(obs);
  await obs.showDock();
  await obs.call('SetCurrentProgramScene', { sceneName: 'Opening' });
  await sleep(500);
  const shotA = screenshot('notes-after-restart-opening');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Beta' });
  await sleep(500);
  const shotB = screenshot('notes-after-restart-beta');
  assert.notEqual(fs.readFileSync(shotA).toString('base64'), fs.readFileSync(shotB).toString('base64'));
  // Typing after the restart appends to the note that was loaded, so it was shown.
  await typeIntoDock(obs, ' again');
  await waitFor('Beta edited after restart', () => plain(noteOf(home, beta).html).includes('beta words again'));
  assert.equal((await obs.stop()).code, 0);
});

test('scene collections keep their own notes, and a note typed just before quitting is kept', async () => {
  const home = await makeHome();
  const obs = await Obs.start(home);
  started.push(obs);
  await obs.call('CreateScene', { sceneName: 'Alpha' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  const alpha = await sceneUuid(obs, 'Alpha');
  await obs.showDock();
  await typeIntoDock(obs, 'first collection');
  await waitFor('Alpha note', () => plain(noteOf(home, alpha)?.html ?? '').includes('first collection'));

  // A new collection starts without notes; its scenes get their own files.
  await obs.call('CreateSceneCollection', { sceneCollectionName: 'Second' });
  await waitFor('the new collection', async () => (await obs.call('GetSceneCollectionList')).currentSceneCollectionName === 'Second');
  await obs.call('CreateScene', { sceneName: 'Gamma' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Gamma' });
  const gamma = await sceneUuid(obs, 'Gamma');
  await sleep(300);
  await typeIntoDock(obs, 'second collection');
  await waitFor('Gamma note', () => plain(noteOf(home, gamma)?.html ?? '').includes('second collection'));
  assert.ok(!plain(noteOf(home, gamma).html).includes('first'), 'nothing of Alpha leaked into Gamma');

  await obs.call('SetCurrentSceneCollection', { sceneCollectionName: 'Untitled' });
  await waitFor('back in the first collection', async () => (await obs.call('GetSceneCollectionList')).currentSceneCollectionName === 'Untitled');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await sleep(300);
  await typeIntoDock(obs, ' again');
  await waitFor('Alpha edited', () => plain(noteOf(home, alpha).html).includes('first collection again'));
  assert.ok(plain(noteOf(home, gamma).html).includes('second collection'));

  // Typed into a scene that never had a note, then OBS quits at once, before the autosave.
  await obs.call('CreateScene', { sceneName: 'Last' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Last' });
  const last = await sceneUuid(obs, 'Last');
  await sleep(300);
  await typeIntoDock(obs, 'quick');
  assert.equal((await obs.stop()).code, 0);
  assert.ok(plain(noteOf(home, last)?.html ?? '').includes('quick'), 'the last words reached the note file');
  const link = collection(home).sources.find((s) => s.uuid === last)?.private_settings?.quillmar;
  assert.ok(link, 'the link reached the saved collection');
  assert.equal(link.file, noteOf(home, last).file);
});
