// Scene notes in the real OBS: typing goes to the shown scene's note file and nowhere else,
// links reach OBS's saved collection, renames move files, and a restart shows every note again.
import { test, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { Obs, makeHome, screenshot, waitFor, notes, noteOf, noteText, collection, sceneUuids, typeIntoDock } from './lib/obs.mjs';

const started = [];
// Each test's OBS ends with it: a failed test must not leave its dock for the next one to type into.
afterEach(async () => { while (started.length) await started.pop().stop().catch(() => {}); });

test('notes follow the shown scene, survive renames and restarts', async () => {
  const home = await makeHome();
  let obs = await Obs.start(home);
  started.push(obs);
  for (const name of ['Alpha', 'Beta']) await obs.call('CreateScene', { sceneName: name });
  const { Alpha: alpha, Beta: beta } = await sceneUuids(obs);
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await obs.showDock();

  await typeIntoDock(obs, 'alpha words');
  await waitFor('Alpha note', () => noteText(home, alpha).includes('alpha words'));

  await obs.call('SetCurrentProgramScene', { sceneName: 'Beta' });
  await sleep(300);
  await typeIntoDock(obs, 'beta words');
  await waitFor('Beta note', () => noteText(home, beta).includes('beta words'));
  assert.ok(!noteText(home, alpha).includes('beta'), 'Beta text stayed out of Alpha');
  assert.ok(!noteText(home, beta).includes('alpha'), 'Alpha text stayed out of Beta');
  assert.equal(notes(home).length, 2);
  assert.equal(noteOf(home, alpha).sceneName, 'Alpha');
  assert.equal(noteOf(home, alpha).format, 'OBS-Quillmar');

  // In studio mode the dock follows the preview scene.
  await obs.call('SetStudioModeEnabled', { studioModeEnabled: true });
  await obs.call('SetCurrentPreviewScene', { sceneName: 'Alpha' });
  await sleep(300);
  await typeIntoDock(obs, ' previewed');
  await waitFor('preview edit in Alpha', () => noteText(home, alpha).includes('alpha words previewed'));
  assert.ok(!noteText(home, beta).includes('previewed'));
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
  await waitFor('Beta edited after restart', () => noteText(home, beta).includes('beta words again'));
  assert.equal((await obs.stop()).code, 0);
});

test('scene collections keep their own notes, and a note typed just before quitting is kept', async () => {
  const home = await makeHome();
  const obs = await Obs.start(home);
  started.push(obs);
  await obs.call('CreateScene', { sceneName: 'Alpha' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  const alpha = (await sceneUuids(obs)).Alpha;
  await obs.showDock();
  await typeIntoDock(obs, 'first collection');
  await waitFor('Alpha note', () => noteText(home, alpha).includes('first collection'));

  // A new collection starts without notes; its scenes get their own files.
  await obs.call('CreateSceneCollection', { sceneCollectionName: 'Second' });
  await waitFor('the new collection', async () => (await obs.call('GetSceneCollectionList')).currentSceneCollectionName === 'Second');
  await obs.call('CreateScene', { sceneName: 'Gamma' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Gamma' });
  const gamma = (await sceneUuids(obs)).Gamma;
  await sleep(300);
  await typeIntoDock(obs, 'second collection');
  await waitFor('Gamma note', () => noteText(home, gamma).includes('second collection'));
  assert.ok(!noteText(home, gamma).includes('first'), 'nothing of Alpha leaked into Gamma');

  await obs.call('SetCurrentSceneCollection', { sceneCollectionName: 'Untitled' });
  await waitFor('back in the first collection', async () => (await obs.call('GetSceneCollectionList')).currentSceneCollectionName === 'Untitled');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Alpha' });
  await sleep(300);
  await typeIntoDock(obs, ' again');
  await waitFor('Alpha edited', () => noteText(home, alpha).includes('first collection again'));
  assert.ok(noteText(home, gamma).includes('second collection'));

  // Typed into a scene that never had a note, then OBS quits at once, before the autosave.
  await obs.call('CreateScene', { sceneName: 'Last' });
  await obs.call('SetCurrentProgramScene', { sceneName: 'Last' });
  const last = (await sceneUuids(obs)).Last;
  await sleep(300);
  await typeIntoDock(obs, 'quick');
  await obs.settle();
  assert.equal((await obs.stop()).code, 0);
  assert.ok(noteText(home, last).includes('quick'), 'the last words reached the note file');
  const link = collection(home).sources.find((s) => s.uuid === last)?.private_settings?.quillmar;
  assert.ok(link, 'the link reached the saved collection');
  assert.equal(link.file, noteOf(home, last).file);
});
