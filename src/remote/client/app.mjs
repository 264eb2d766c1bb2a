// The remote page: sign in, follow the scenes, read, edit under the lease with drafts, import,
// export and drive the teleprompter. Everything from the network reaches the page as text.
import {
  render, serialize, styleParagraph, styleRun, listMarkers, refineFormat, saveCheck, checkDocument, importHtml,
  plainDocument, characterCount, parseGoTo, findMatches, markEndingAt, timeStamp, utf8Length, FAMILIES, LIMITS, BASIC,
  PLAIN, MARK, SIZE_RANGE, markSpans, togglePatch, listPatch, indentPatch, FormatPainter, pieceAt, nextMarkAt,
  goToScroll,
} from './document.mjs';
import {
  Connection, RemoteError, LoadQueue, SaveQueue, LeaseWatch, accessFromAddress, validCredential, nextDelay,
  resumeSession,
} from './protocol.mjs';
import { setUpPrompterView } from './prompter_view.mjs';

const $ = (id) => document.getElementById(id);
const docEl = $('document');
const reader = $('reader');

// ---------------------------------------------------------------------------------------------
// Client state

let labels = {};
let port = 4455;
let access = null;
let session = null;
let credential = null;
let epoch = '';
let revision = 0;
let scene = '';
let model = null; // the last document reply
let remote = null; // the last state object
let online = false;
let editing = false;
let acquiring = false;
let importing = false;
let sequence = 0;
let savedSequence = 0;
let draftProblem = false;
let conn = null;
let wantConnected = false;
let retryDelay = 1000;
let retryTimer = 0;
let heartbeat = 0;
let loadNumber = 0;
let loadFailed = false;
let saves = null;
let draftTimer = 0;
let saveTimer = 0;
let problemAction = null;
const lease = new LeaseWatch();
const loads = new LoadQueue((id) => call('GetDocument', { scene: id }));

const ERROR_KEYS = {
  limit: 'TextLimit', locked: 'RemoteLocked', word: 'WordOpenError', upload: 'RemoteImportFailed', busy: 'RemoteBusy',
  format: 'RemoteFormat', size: 'RemoteTooLarge', read: 'RemoteStorageFailed', save: 'RemoteStorageFailed',
  conflict: 'RemoteConflict', 'password-required': 'RemotePasswordRequired',
};

function text(key, ...args) {
  let s = typeof labels[key] === 'string' ? labels[key] : key;
  args.forEach((a, i) => { s = s.split('%' + (i + 1)).join(String(a)); });
  return s;
}
const messageOf = (code) => text(ERROR_KEYS[code] || 'RemoteFailure');

// ---------------------------------------------------------------------------------------------
// Browser storage, which may be disabled: then the feature is skipped.

function store(area, key, value) {
  try {
    if (value === null) globalThis[area].removeItem(key);
    else globalThis[area].setItem(key, JSON.stringify(value));
    return true;
  } catch {
    return false;
  }
}
function load(area, key) {
  try {
    const raw = globalThis[area].getItem(key);
    return raw === null ? null : JSON.parse(raw);
  } catch {
    return null;
  }
}
const sessionKey = () => `quillmar.session.${port}.${access}`;
const draftKey = (id) => `quillmar.draft.${location.host}.${id}`;

// Drafts live in memory first, so that a full or disabled storage loses nothing while the page
// stays open.
const drafts = new Map();
function saveDraft(id, draft) {
  drafts.set(id, draft);
  if (!store('localStorage', draftKey(id), draft)) showProblem(text('RemoteNoDraft'));
}
function readDraft(id) {
  if (drafts.has(id)) return drafts.get(id);
  const d = load('localStorage', draftKey(id));
  if (!d || typeof d.epoch !== 'string' || !Number.isInteger(d.revision) || !d.document) return null;
  drafts.set(id, d);
  return d;
}
function clearDraft(id) {
  drafts.delete(id);
  store('localStorage', draftKey(id), null);
}

// ---------------------------------------------------------------------------------------------
// Labels, device name, notices

function applyLabels() {
  for (const el of document.querySelectorAll('[data-text]')) el.textContent = text(el.dataset.text);
  for (const el of document.querySelectorAll('[data-label]')) {
    el.setAttribute('aria-label', text(el.dataset.label));
    el.title = text(el.dataset.label);
  }
  for (const el of document.querySelectorAll('[data-placeholder]')) el.placeholder = text(el.dataset.placeholder);
}

function defaultDevice() {
  const ua = navigator.userAgent || '';
  if (/iPhone/.test(ua)) return 'iPhone';
  if (/iPad/.test(ua) || (/Mac/.test(navigator.platform || '') && navigator.maxTouchPoints > 1)) return 'iPad';
  if (/Android/.test(ua)) return 'Android';
  if (/Windows/.test(ua)) return 'Windows PC';
  if (/Mac/.test(ua)) return 'Mac';
  if (/Linux/.test(ua)) return 'Linux PC';
  return 'Browser';
}

function showProblem(message, actions = {}) {
  $('message').textContent = message;
  problemAction = actions;
  for (const name of ['retry', 'download', 'reload']) $(name).hidden = !actions[name];
  $('problem').hidden = false;
}
function clearProblem() {
  $('problem').hidden = true;
  problemAction = null;
}

function setConnection(key) {
  $('connection').textContent = text(key);
  $('connection').dataset.text = key;
}

function loginError(message, code = '') {
  // The code stays on the element for whoever diagnoses a failed sign-in.
  $('login-error').dataset.code = code;
  $('login-error').textContent = message;
  $('login-error').hidden = !message;
}

// ---------------------------------------------------------------------------------------------
// Requests

function call(action, fields = {}) {
  if (!conn || !online && action !== 'Open' && action !== 'KeepAlive' && action !== 'GetState') {
    return Promise.reject(new RemoteError('disconnected'));
  }
  return conn.call({ access, session, action, ...fields });
}

function releaseLease() {
  call('ReleaseEdit').then(applyState, () => {});
}

// Until the release's reply, the last state names this page's own lease: not someone else's edit,
// which would keep the next click or import from asking at all.
function forgetOwnLease() {
  if (remote && !remote.localEditing) remote = { ...remote, editor: '', editorScene: '' };
}

// ---------------------------------------------------------------------------------------------
// Connecting

async function connect(password = '') {
  clearTimeout(retryTimer);
  wantConnected = true;
  setConnection('RemoteConnecting');
  const stored = load('sessionStorage', sessionKey());
  const remembered = stored && validCredential(stored.credential) ? stored.credential : credential;
  // A reloaded tab takes its session back, and with it any lease it left behind.
  if (!session && stored && typeof stored.session === 'string' && stored.session.length <= 64) session = stored.session;
  conn?.close();
  const c = new Connection({ url: `ws://${location.hostname}:${port}` , WebSocket });
  conn = c;
  c.onEvent = onEvent;
  c.onClose = (code) => { if (conn === c) connectionLost(code); };
  try {
    credential = await c.open({ password, credential: remembered });
    if (conn !== c) return;
    let reply = null;
    // A flaky phone keeps its session instead of filling the module's sixteen.
    if (session) {
      try {
        reply = await resumeSession((action) => c.call({ access, session, action }), lease);
      } catch (error) {
        if (error.code !== 'session') throw error;
        session = null;
      }
    }
    if (!session) {
      reply = await c.call({ access, action: 'Open', name: $('device').value });
      if (typeof reply.session !== 'string') throw new RemoteError('response');
      session = reply.session;
    }
    if ($('remember').checked) {
      store('sessionStorage', sessionKey(), { credential, name: $('device').value, session });
    }
    online = true;
    retryDelay = 1000;
    setConnection('RemoteConnected');
    $('login').hidden = true;
    $('workspace').hidden = false;
    $('disconnect').hidden = false;
    loginError('');
    if (!loadFailed && !draftProblem) clearProblem();
    clearInterval(heartbeat);
    heartbeat = setInterval(keepAlive, 5000);
    applyState(reply, true);
  } catch (error) {
    if (conn !== c) return;
    connectFailed(error.code || 'connection');
  }
}

function connectFailed(code) {
  online = false;
  conn?.close();
  if (code === 'authentication' || code === 'password-required' || code === 'access') {
    signOut();
    loginError(messageOf(code), code);
    return;
  }
  scheduleRetry();
  if ($('workspace').hidden) loginError(messageOf(code), code);
}

function scheduleRetry() {
  setConnection('RemoteDisconnected');
  if (!wantConnected) return;
  clearTimeout(retryTimer);
  retryTimer = setTimeout(() => connect(), retryDelay);
  retryDelay = nextDelay(retryDelay);
}

function connectionLost(code) {
  online = false;
  clearInterval(heartbeat);
  if (editing) endEdit('disconnected');
  if (code === 4011) {
    signOut();
    return;
  }
  scheduleRetry();
}

// Back to the login form; the remembered credential is forgotten.
function signOut() {
  wantConnected = false;
  online = false;
  clearTimeout(retryTimer);
  clearInterval(heartbeat);
  store('sessionStorage', sessionKey(), null);
  credential = null;
  const c = conn;
  conn = null;
  c?.close();
  session = null;
  setConnection('RemoteDisconnected');
  $('workspace').hidden = true;
  $('login').hidden = false;
  $('disconnect').hidden = true;
  $('owner').textContent = '';
}

async function keepAlive() {
  if (!online) return;
  const stamp = lease.keepAliveSent();
  try {
    const reply = await call('KeepAlive');
    const verdict = lease.judge(reply, stamp, { editing, epoch, uploading: importing });
    if (verdict === 'release') releaseLease();
    else if (verdict === 'conflict' || verdict === 'locked') endEdit(verdict);
  } catch (error) {
    if (error.code === 'session') session = null;
    if (['session', 'timeout', 'disconnected'].includes(error.code)) conn?.close();
  }
}

// ---------------------------------------------------------------------------------------------
// State, scenes and loading

function validState(s) {
  return s && typeof s.epoch === 'string' && Array.isArray(s.scenes);
}

function sceneList(s) {
  return s.scenes.filter((x) => x && typeof x.id === 'string' && typeof x.name === 'string').slice(0, 10000);
}

function applyState(s, fresh = false) {
  if (!validState(s)) return;
  const before = remote;
  remote = s;
  const scenes = sceneList(s);
  const ids = scenes.map((x) => x.id + '\n' + x.name).join('\n');
  if (!before || ids !== sceneList(before).map((x) => x.id + '\n' + x.name).join('\n')) rebuildScenes(scenes);
  if (editing && (s.locked || s.localEditing || s.epoch !== epoch || (s.editorScene && s.editorScene !== scene))) {
    endEdit(s.locked ? 'locked' : 'conflict');
  }
  updateOwner();
  updatePlayState();
  // States carry the dock's position too: a state change within the same 200 ms as a scroll
  // arrives as "Changed" instead of "Scroll".
  if (typeof s.position === 'number') followScroll({ scene: s.activeScene, epoch: s.epoch, position: s.position });
  if (editing || importing) return;
  if (draftProblem && !fresh) {
    // The note changed under a kept draft: look again, so that the offer says what is true now.
    if (scene && (s.epoch !== epoch || (Array.isArray(s.changed) && s.changed.includes(scene)))) loadScene(scene);
    return;
  }
  const ids2 = scenes.map((x) => x.id);
  let target = $('follow').checked ? s.activeScene : scene;
  if (!ids2.includes(target)) target = ids2.includes(s.activeScene) ? s.activeScene : ids2[0] || '';
  const changed = Array.isArray(s.changed) && s.changed.includes(scene);
  if (target && (fresh || target !== scene || s.epoch !== epoch || changed || loadFailed)) loadScene(target);
  if (!target) showEmpty();
}

function rebuildScenes(scenes) {
  const select = $('scenes');
  select.replaceChildren(...scenes.map((x) => {
    const option = document.createElement('option');
    option.value = x.id;
    option.textContent = '[ ' + x.name.slice(0, 256) + ' ]';
    return option;
  }));
  select.value = scene;
}

function showEmpty() {
  scene = '';
  model = null;
  docEl.replaceChildren();
  updateCounts();
}

async function loadScene(id) {
  const number = ++loadNumber;
  try {
    const reply = await loads.load(id);
    if (number !== loadNumber || editing || importing) return;
    if (!Array.isArray(reply.blocks) || typeof reply.epoch !== 'string' || !Number.isInteger(reply.revision)) {
      throw new RemoteError('response');
    }
    loadFailed = false;
    model = reply;
    epoch = reply.epoch;
    revision = reply.revision;
    if (scene !== id) prompterView?.reset();
    scene = id;
    $('scenes').value = id;
    const draft = readDraft(id);
    if (draft) offerDraft(draft);
    else {
      draftProblem = false;
      show(reply.blocks);
      clearProblem();
    }
    updateOwner();
  } catch (error) {
    if (number !== loadNumber) return;
    loadFailed = true;
    const code = error.code;
    if (code === 'size' || code === 'read' || code === 'save') {
      const draft = readDraft(id);
      if (draft && documentFits(draft.document)) show(draft.document.blocks);
      showProblem(messageOf(code), { retry: true, download: !!draft });
    } else if (online) {
      showProblem(messageOf(code), { retry: true });
    }
  }
}

function documentFits(d) {
  return !!d && checkDocument(d) === null;
}

// A draft for the loaded scene: resumable when nobody changed the note since, else a conflict.
function offerDraft(draft) {
  draftProblem = true;
  const fits = documentFits(draft.document);
  if (draft.epoch === epoch && draft.revision === revision && fits) {
    show(draft.document.blocks);
    showProblem(text('RemoteDraft'), { retry: true, download: true });
  } else {
    if (model) show(model.blocks);
    showProblem(text('RemoteConflict'), { reload: true, download: true });
  }
}

let firstShown = false;
function show(blocks) {
  docEl.replaceChildren(...render(blocks, document, { marks: !editing }));
  // For the performance timeline: how long a phone waits for its first note.
  if (!firstShown) {
    firstShown = true;
    performance.mark('quillmar-first-note');
  }
  updateCounts();
  runSearch();
}

// ---------------------------------------------------------------------------------------------
// Events

function onEvent(type, data) {
  if (type === 'Changed') applyState(data);
  else if (type === 'Scroll') followScroll(data);
}

// ---------------------------------------------------------------------------------------------
// Editing under the lease

function someoneElseEdits() {
  return !!remote && !!remote.editor && !editing && (remote.localEditing || !!remote.editorScene);
}

// Resolves true when the page holds the lease. Resuming a draft is the reader's explicit wish: the
// module, not a state that may be a moment old, says whether someone else edits.
async function beginEdit(resume = false) {
  if (!online || !scene || editing || acquiring || importing || !model || playing() || remote?.locked
      || remote?.localEditing || model.editable === false || (draftProblem && !resume)
      || (!resume && someoneElseEdits())) return false;
  const shown = scene;
  acquiring = true;
  lease.acquireSent();
  let reply;
  try {
    reply = await call('AcquireEdit', { scene, epoch, revision });
  } catch (error) {
    // A refused resume still offers the draft: nothing typed may lose its way back.
    const conflict = error.code === 'conflict';
    showProblem(messageOf(error.code), resume ? { retry: !conflict, reload: conflict, download: true }
      : conflict ? { reload: true } : {});
    if (conflict && !resume) loadScene(scene);
    return false;
  } finally {
    acquiring = false;
    lease.acquireSettled();
  }
  // The world moved while the request was out: give the lease back at once.
  if (!online || scene !== shown || remote?.locked || (!resume && !docEl.contains(document.activeElement)
      && document.activeElement !== docEl)) {
    releaseLease();
    return false;
  }
  editing = true;
  revision = reply.revision;
  saves = new SaveQueue(sendSave, revision);
  if (resume) {
    draftProblem = false;
    sequence += 1;
  } else {
    model = reply;
    const current = serialize(docEl);
    if (JSON.stringify(current.blocks) !== JSON.stringify(serialize(container(reply.blocks)).blocks)) show(reply.blocks);
    clearProblem();
  }
  setEditable(true);
  placeCaret();
  updateOwner();
  if (resume) saveNow();
  return true;
}

// The caret goes where the reader touched the text that started the edit.
let touchedAt = null;
function placeCaret() {
  if (!touchedAt || !document.caretRangeFromPoint) return;
  const range = document.caretRangeFromPoint(touchedAt[0], touchedAt[1]);
  touchedAt = null;
  if (!range || !docEl.contains(range.startContainer)) return;
  getSelection().removeAllRanges();
  getSelection().addRange(range);
}

function container(blocks) {
  const div = document.createElement('div');
  div.replaceChildren(...render(blocks, document));
  return div;
}

function setEditable(on) {
  docEl.contentEditable = on ? 'true' : 'false';
  reader.classList.toggle('editable', on);
  for (const el of document.querySelectorAll('.format')) el.disabled = !on;
  if (on) {
    // Mark elements would catch the text typed next to them; a highlight colours them instead.
    for (const mark of docEl.querySelectorAll('.mark')) mark.replaceWith(...mark.childNodes);
    docEl.normalize();
    docEl.focus();
  } else {
    painter.drop();
    showPainter();
  }
  paintMarks();
}

// Marks keep their colour while editing, painted over the text once per frame at most.
let marksFrame = 0;
function paintMarks() {
  if (!globalThis.CSS?.highlights || !globalThis.Highlight) return;
  cancelAnimationFrame(marksFrame);
  marksFrame = requestAnimationFrame(() => {
    if (!editing) {
      CSS.highlights.delete('mark');
      return;
    }
    const index = textIndex();
    CSS.highlights.set('mark', new Highlight(...markSpans(index.all).map(([a, b]) => rangeAt(index, a, b - a)).filter(Boolean)));
  });
}

function onInput() {
  if (!editing) return;
  sequence += 1;
  renumber();
  paintMarks();
  updateCounts();
  updateOwner();
  clearTimeout(draftTimer);
  draftTimer = setTimeout(keepDraft, 250);
  clearTimeout(saveTimer);
  saveTimer = setTimeout(saveNow, 800);
}

function keepDraft() {
  if (sequence !== savedSequence) saveDraft(scene, { epoch, revision: saves ? saves.revision : revision, document: serialize(docEl) });
}

// Sends the editor's content quoting the revision the queue holds.
function sendSave(quoted) {
  const snapshot = serialize(docEl);
  const code = saveCheck(snapshot);
  if (code) return Promise.reject(new RemoteError(code === 'format' ? 'format' : code));
  const at = sequence;
  saveDraft(scene, { epoch, revision: quoted, document: snapshot });
  return call('SaveDocument', { scene, epoch, revision: quoted, document: snapshot }).then((reply) => {
    revision = reply.revision;
    savedSequence = at;
    if (sequence === at) clearDraft(scene);
    else saveDraft(scene, { epoch, revision, document: serialize(docEl) });
    updateOwner();
    return reply;
  });
}

function saveNow() {
  clearTimeout(saveTimer);
  if (!editing || !saves) return Promise.resolve();
  updateOwner(true);
  return saves.save().catch((error) => {
    if (!editing) return;
    if (error.code === 'limit' || error.code === 'size') {
      // Refused in the page: the edit goes on so that the text can be shortened.
      showProblem(messageOf(error.code));
      keepDraft();
      return;
    }
    endEdit(error.code);
  });
}

// Ends the edit normally: save what is pending, give the lease back, reload.
async function finishEdit() {
  if (!editing) return;
  clearTimeout(draftTimer);
  for (let i = 0; i < 2 && editing && sequence !== savedSequence; i++) await saveNow();
  if (!editing) return;
  editing = false;
  saves = null;
  setEditable(false);
  forgetOwnLease();
  releaseLease();
  updateOwner();
  if (sequence === savedSequence) loadScene(scene);
}

// The edit was taken away (conflict, lock, connection): unsaved text becomes a draft.
function endEdit(code) {
  if (!editing) return;
  clearTimeout(draftTimer);
  clearTimeout(saveTimer);
  editing = false;
  saves = null;
  setEditable(false);
  if (sequence !== savedSequence) {
    saveDraft(scene, { epoch, revision, document: serialize(docEl) });
    draftProblem = true;
    showProblem(code === 'locked' ? text('RemoteLocked') : code === 'disconnected' ? text('RemoteDraft')
      : text('RemoteConflict'), code === 'disconnected' ? { retry: true, download: true } : { reload: true, download: true });
  } else if (code !== 'disconnected') {
    showProblem(messageOf(code));
    loadScene(scene);
  }
  releaseLease();
  updateOwner();
}

function updateOwner(saving = false) {
  let key;
  let extra = '';
  if (remote?.locked) key = 'RemoteLocked';
  else if (importing) key = 'RemoteImporting';
  else if (editing) key = saving || sequence !== savedSequence ? 'RemoteSaving' : 'RemoteSaved';
  else if (someoneElseEdits()) {
    key = 'RemoteEditing';
    extra = ' \u00b7 ' + String(remote.editor).slice(0, 64);
  } else if (model && model.editable === false) key = 'RemoteReadOnly';
  else key = 'RemoteClickEdit';
  $('owner').textContent = online ? text(key) + extra : '';
}

// ---------------------------------------------------------------------------------------------
// Limits on every edit, paste as plain text, no drops

function selectionParagraph() {
  const sel = getSelection();
  let node = sel.rangeCount ? sel.getRangeAt(0).startContainer : null;
  while (node && node.parentNode !== docEl) node = node.parentNode;
  return node;
}

function paragraphLength(p) {
  if (!p) return 0;
  const brs = p.querySelectorAll('br').length;
  const last = p.lastChild && p.lastChild.nodeName === 'BR' ? 1 : 0;
  return p.textContent.length + Math.max(0, brs - last);
}

function fitsInsertion(inserted, newParagraphs) {
  const sel = getSelection();
  const removed = sel.rangeCount ? sel.toString().length : 0;
  const paragraphs = docEl.children.length;
  const total = docEl.textContent.length + docEl.querySelectorAll('br').length + paragraphs - 1;
  const lines = inserted.split('\n');
  const longest = Math.max(...lines.map((l) => l.length));
  const here = paragraphLength(selectionParagraph()) - removed;
  return total - removed + inserted.length <= LIMITS.characters
    && paragraphs + newParagraphs + lines.length - 1 <= LIMITS.paragraphs
    && here + (lines.length > 1 ? Math.max(lines[0].length, lines[lines.length - 1].length) : longest) <= LIMITS.paragraph
    && longest <= LIMITS.paragraph;
}

function refuse(event) {
  event.preventDefault();
  showProblem(text('TextLimit'));
}

docEl.addEventListener('beforeinput', (event) => {
  if (!editing) return;
  const type = event.inputType;
  if (type === 'insertFromDrop') {
    event.preventDefault();
    return;
  }
  if (type === 'insertParagraph' && !fitsInsertion('', 1)) refuse(event);
  else if ((type === 'insertText' || type === 'insertReplacementText' || type === 'insertCompositionText'
    || type === 'insertLineBreak') && !fitsInsertion(event.data || ' ', 0)) refuse(event);
});

docEl.addEventListener('paste', (event) => {
  event.preventDefault();
  if (!editing) return;
  const pasted = (event.clipboardData?.getData('text/plain') || '').replace(/\r\n?|\u2029/g, '\n')
    .replace(/[\0\uFFFC\uFDD0\uFDD1]/g, '');
  if (!pasted) return;
  if (!fitsInsertion(pasted, 0)) {
    showProblem(text('TextLimit'));
    return;
  }
  pasted.split('\n').forEach((line, i) => {
    if (i > 0) document.execCommand('insertParagraph');
    if (line) document.execCommand('insertText', false, line);
  });
});
docEl.addEventListener('drop', (event) => event.preventDefault());
docEl.addEventListener('dragover', (event) => event.preventDefault());
docEl.addEventListener('input', onInput);

docEl.addEventListener('keydown', (event) => {
  if (event.key === 'Escape') {
    event.preventDefault();
    painter.drop();
    showPainter();
    finishEdit();
    return;
  }
  if (event.key === 'Backspace' && editing) deleteMarkBeforeCaret(event);
});

// Backspace right after a mark takes the whole mark.
function deleteMarkBeforeCaret(event) {
  const sel = getSelection();
  if (!sel.isCollapsed || !sel.rangeCount) return;
  const { startContainer: node, startOffset: offset } = sel.getRangeAt(0);
  if (node.nodeType !== 3) return;
  const found = markEndingAt(node.data.slice(0, offset), offset);
  if (!found || found[1] - found[0] < 2) return;
  event.preventDefault();
  const range = document.createRange();
  range.setStart(node, found[0]);
  range.setEnd(node, found[1]);
  sel.removeAllRanges();
  sel.addRange(range);
  document.execCommand('delete');
}

// ---------------------------------------------------------------------------------------------
// Formatting (only with the lease)

const painter = new FormatPainter();

function showPainter() {
  const button = $('format-painter');
  button.classList.toggle('active', !!painter.format);
  button.title = text(painter.continuous ? 'FormatPainterContinuous' : 'FormatPainter');
}

function paragraphsInSelection() {
  const sel = getSelection();
  if (!sel.rangeCount) return [];
  const range = sel.getRangeAt(0);
  return [...docEl.children].filter((p) => range.intersectsNode(p));
}

function blockOfParagraph(p) {
  return serialize({ childNodes: [p] }).blocks[0];
}

function effectiveFormat(node) {
  const chain = [];
  for (let n = node.parentNode; n && n !== docEl; n = n.parentNode) chain.unshift(n);
  return chain.reduce((format, el) => refineFormat(el, format), PLAIN);
}

function caretFormat() {
  const sel = getSelection();
  if (!sel.rangeCount) return { ...PLAIN };
  let node = sel.getRangeAt(0).startContainer;
  if (node.nodeType !== 3) node = node.childNodes[sel.getRangeAt(0).startOffset] || node;
  return node.nodeType === 3 ? effectiveFormat(node) : { ...PLAIN };
}

// Gives every selected character the patch (or what patch(formats of the selection) returns),
// one span per text piece.
function applyFormat(patch) {
  if (!editing) return;
  const sel = getSelection();
  if (!sel.rangeCount || sel.isCollapsed) return;
  const range = sel.getRangeAt(0);
  if (!docEl.contains(range.commonAncestorContainer)) return;
  const { startContainer: sc, startOffset: so, endContainer: ec, endOffset: eo } = range;
  // Split the text at both ends so that whole text nodes lie inside the selection.
  let startNode = sc;
  let startOffset = so;
  let endNode = ec;
  let endOffset = eo;
  if (ec.nodeType === 3 && eo < ec.length) ec.splitText(eo);
  if (sc.nodeType === 3 && so > 0) {
    const tail = sc.splitText(so);
    if (endNode === sc) {
      endNode = tail;
      endOffset = eo - so;
    }
    startNode = tail;
    startOffset = 0;
  }
  const inside = document.createRange();
  inside.setStart(startNode, startOffset);
  inside.setEnd(endNode, endOffset);
  const nodes = [];
  const walker = document.createTreeWalker(docEl, NodeFilter.SHOW_TEXT);
  for (let n = walker.nextNode(); n; n = walker.nextNode()) {
    if (n.length && inside.comparePoint(n, 0) === 0 && inside.comparePoint(n, n.length) === 0) nodes.push(n);
  }
  const change = typeof patch === 'function' ? patch(nodes.map(effectiveFormat)) : patch;
  for (const n of nodes) {
    const format = { ...effectiveFormat(n), ...change };
    let span = n.parentNode;
    if (!(span.nodeName === 'SPAN' && span.childNodes.length === 1 && span.dataset.format)) {
      span = document.createElement('span');
      n.parentNode.insertBefore(span, n);
      span.appendChild(n);
    }
    span.dataset.format = JSON.stringify(format);
    span.removeAttribute('style');
    styleRun(span, format);
  }
  if (nodes.length) {
    const r = document.createRange();
    r.setStart(nodes[0], 0);
    r.setEnd(nodes[nodes.length - 1], nodes[nodes.length - 1].length);
    sel.removeAllRanges();
    sel.addRange(r);
  }
  onInput();
}

function applyBlock(change) {
  if (!editing) return;
  const paragraphs = paragraphsInSelection();
  if (!paragraphs.length) return;
  for (const p of paragraphs) styleParagraph(p, { ...blockOfParagraph(p), ...change(blockOfParagraph(p), p) }, '');
  onInput();
}

const listFields = (p) => ({ list: Number(p.dataset.list) || 0, listGroup: Number(p.dataset.listGroup) || 0,
  listIndent: Number(p.dataset.listIndent) || 1, listStart: Number(p.dataset.listStart) || 1 });

function renumber() {
  const paragraphs = [...docEl.children];
  const blocks = paragraphs.map(listFields);
  listMarkers(blocks).forEach((marker, i) => {
    if (marker) paragraphs[i].dataset.marker = marker;
    else delete paragraphs[i].dataset.marker;
  });
}

function setList(style) {
  const paragraphs = [...docEl.children];
  const first = paragraphs.indexOf(paragraphsInSelection()[0]);
  if (first < 0) return;
  const patch = listPatch(paragraphs.map(listFields), first, style);
  applyBlock(() => patch);
}

function indent(step) {
  applyBlock((b) => indentPatch(b, step));
}

function insertText(value, caretBack = 0) {
  if (!editing) return;
  docEl.focus();
  if (!fitsInsertion(value, 0)) {
    showProblem(text('TextLimit'));
    return;
  }
  document.execCommand('insertText', false, value);
  if (caretBack) {
    const sel = getSelection();
    const r = sel.getRangeAt(0);
    if (r.startContainer.nodeType === 3 && r.startOffset >= caretBack) {
      r.setStart(r.startContainer, r.startOffset - caretBack);
      r.collapse(true);
      sel.removeAllRanges();
      sel.addRange(r);
    }
  }
}

function setupFormatting() {
  const family = $('family');
  family.replaceChildren(...FAMILIES.map((f) => {
    const o = document.createElement('option');
    o.value = f;
    o.textContent = f;
    return o;
  }));
  // Keep the selection in the document when a tool is pressed.
  for (const id of ['text-tools', 'paragraph']) {
    $(id).addEventListener('mousedown', (e) => {
      if (e.target.closest('button')) e.preventDefault();
    });
  }
  for (const name of ['bold', 'italic', 'underline', 'strike']) {
    $(name).onclick = () => applyFormat((formats) => togglePatch(name, formats));
  }
  family.onchange = () => applyFormat({ family: family.value });
  $('size').onchange = () => {
    const v = Math.round(Number($('size').value));
    if (v >= SIZE_RANGE.min && v <= SIZE_RANGE.max) applyFormat({ size: v });
  };
  $('color').onchange = () => applyFormat({ color: $('color').value });
  $('highlight').onchange = () => applyFormat({ background: $('highlight').value });
  $('clear-format').onclick = () => applyFormat({ ...BASIC });
  $('format-painter').onclick = () => {
    painter.click(caretFormat());
    showPainter();
  };
  $('format-painter').ondblclick = () => {
    painter.doubleClick(caretFormat());
    showPainter();
  };
  docEl.addEventListener('pointerup', () => setTimeout(() => {
    if (!painter.format || !editing || getSelection().isCollapsed) return;
    applyFormat(painter.use());
    showPainter();
  }, 0));
  $('insert-mark').onclick = () => insertText(MARK + '[]', 1);
  $('next-mark').onclick = nextMark;
  $('insert-time').onclick = () => insertText(timeStamp(new Date()));
  for (const id of ['align-left', 'align-center', 'align-right', 'align-justify']) {
    $(id).onclick = () => applyBlock(() => ({ align: Number($(id).dataset.align) }));
  }
  $('list').onchange = () => setList(Number($('list').value));
  $('indent-less').onclick = () => indent(-1);
  $('indent-more').onclick = () => indent(1);
  for (const el of document.querySelectorAll('.format')) el.disabled = true;
}

// ---------------------------------------------------------------------------------------------
// Search and marks

const textIndex = () => {
  // Paragraph texts joined by line feeds, and where each text node starts in it.
  const nodes = [];
  let all = '';
  [...docEl.children].forEach((p, i) => {
    if (i > 0) all += '\n';
    const walker = document.createTreeWalker(p, NodeFilter.SHOW_TEXT);
    for (let n = walker.nextNode(); n; n = walker.nextNode()) {
      nodes.push([all.length, n]);
      all += n.data;
    }
  });
  return { all, nodes };
};

function rangeAt(index, start, length) {
  const starts = index.nodes.map(([at]) => at);
  const locate = (offset, end) => {
    const i = pieceAt(starts, offset, end);
    return i < 0 ? null : [index.nodes[i][1], offset - starts[i]];
  };
  const a = locate(start, false);
  const b = locate(start + length, true);
  if (!a || !b) return null;
  const range = document.createRange();
  range.setStart(a[0], Math.min(a[1], a[0].length));
  range.setEnd(b[0], Math.min(b[1], b[0].length));
  return range;
}

let matches = [];
let current = -1;
let searchTimer = 0;

function runSearch(keep = true) {
  const needle = $('search').value;
  const index = textIndex();
  matches = findMatches(index.all, needle);
  if (!keep || current >= matches.length) current = matches.length ? 0 : -1;
  showMatch(index);
}

function showMatch(index = textIndex()) {
  const needle = $('search').value;
  $('matches').textContent = needle ? (matches.length ? `${current + 1}/${matches.length}` : text('NoMatch')) : '';
  if (globalThis.CSS && CSS.highlights) CSS.highlights.delete('search');
  if (current < 0 || !matches.length) return;
  const range = rangeAt(index, matches[current], needle.length);
  if (!range) return;
  if (globalThis.CSS && CSS.highlights && globalThis.Highlight) CSS.highlights.set('search', new Highlight(range));
  else if (!editing) {
    getSelection().removeAllRanges();
    getSelection().addRange(range);
  }
  const box = range.getBoundingClientRect();
  const view = reader.getBoundingClientRect();
  reader.scrollTop += box.top - view.top - reader.clientHeight / 2;
}

function step(by) {
  if (!matches.length) return;
  current = (current + by + matches.length) % matches.length;
  showMatch();
}

function nextMark() {
  const index = textIndex();
  const sel = getSelection();
  let from = 0;
  if (sel.rangeCount && docEl.contains(sel.focusNode)) {
    const hit = index.nodes.find(([, n]) => n === sel.focusNode);
    if (hit) from = hit[0] + sel.focusOffset;
  }
  const at = nextMarkAt(index.all, from);
  if (at < 0) return;
  const range = rangeAt(index, at, 1);
  if (!range) return;
  sel.removeAllRanges();
  sel.addRange(range);
  const box = range.getBoundingClientRect();
  reader.scrollTop += box.top - reader.getBoundingClientRect().top - reader.clientHeight * 0.382;
}

// ---------------------------------------------------------------------------------------------
// Reading and teleprompter

let obsMode = false;
let localPlaying = false;
let countdown = 0;
let countdownTimer = 0;
let lastFrame = 0;
let holdUntil = 0;
let position = 0; // fractional scroll position while playing
let speed = 1;

const playing = () => localPlaying || countdown > 0;

function updatePlayState() {
  const obsPlaying = obsMode && remote?.scrolling;
  const on = obsMode ? obsPlaying : playing();
  $('play').textContent = on ? '\u23F8\uFE0E' : '\u25B6\uFE0E';
  if (countdown > 0) $('play').textContent = String(countdown);
  $('play').title = text(on ? 'Pause' : 'RemotePlay');
  $('band').hidden = !((playing() || obsPlaying) && $('guide').getAttribute('aria-pressed') === 'true');
  placeBand();
  if (obsMode && remote && typeof remote.speed === 'number' && document.activeElement !== $('speed')) {
    setSpeed(remote.speed, false);
  }
}

function placeBand() {
  const band = $('band');
  if (band.hidden) return;
  band.style.setProperty('top', `calc(${(reader.clientHeight * 0.382).toFixed(0)}px - 1.3em)`);
}

function setSpeed(value, send) {
  speed = Math.min(5, Math.max(1, Math.round(Number(value) * 10) / 10 || 1));
  $('speed').value = String(speed);
  $('multiplier').textContent = speed.toFixed(1) + '\u00d7';
  if (send && obsMode) call('Scroll', { command: 'speed', speed }).then(applyState, (e) => showProblem(messageOf(e.code)));
}

function play() {
  if (obsMode) {
    call('Scroll', { command: remote?.scrolling ? 'pause' : 'start' }).then(applyState, (e) => showProblem(messageOf(e.code)));
    return;
  }
  if (playing()) {
    stopLocal();
    return;
  }
  finishEdit();
  if ($('countdown').checked) {
    countdown = 3;
    updatePlayState();
    countdownTimer = setInterval(() => {
      countdown -= 1;
      if (countdown <= 0) {
        clearInterval(countdownTimer);
        startLocal();
      }
      updatePlayState();
    }, 1000);
  } else startLocal();
}

function startLocal() {
  countdown = 0;
  localPlaying = true;
  position = reader.scrollTop;
  lastFrame = performance.now();
  updatePlayState();
  requestAnimationFrame(frame);
}

function stopLocal() {
  clearInterval(countdownTimer);
  countdown = 0;
  localPlaying = false;
  updatePlayState();
}

function frame(now) {
  if (!localPlaying) return;
  const elapsed = Math.max(0, now - lastFrame);
  lastFrame = now;
  if (now >= holdUntil) {
    position += elapsed * 0.01 * speed;
    const end = reader.scrollHeight - reader.clientHeight;
    if (position >= end) {
      reader.scrollTop = end;
      stopLocal();
      return;
    }
    programmaticScroll = true;
    reader.scrollTop = position;
  }
  requestAnimationFrame(frame);
}

let programmaticScroll = false;
reader.addEventListener('scroll', () => {
  if (programmaticScroll) programmaticScroll = false;
  else if (localPlaying) {
    holdUntil = performance.now() + 1000;
    position = reader.scrollTop;
  }
  updatePercent();
}, { passive: true });
reader.addEventListener('pointerdown', () => {
  if (localPlaying) holdUntil = performance.now() + 1000;
});

function followScroll(data) {
  if (!obsMode || editing || document.hidden || !remote) return;
  if (data.scene !== remote.activeScene || data.scene !== scene || data.epoch !== epoch) return;
  const fraction = Number(data.position);
  if (!Number.isFinite(fraction)) return;
  if (prompterView.follow(Math.min(1, Math.max(0, fraction)), Number(remote.speed), remote.scrolling === true)) return;
  programmaticScroll = true;
  reader.scrollTop = Math.min(1, Math.max(0, fraction)) * (reader.scrollHeight - reader.clientHeight);
}

function goTo() {
  const input = $('go-to');
  const count = docEl.children.length;
  const target = parseGoTo(input.value, count);
  input.classList.toggle('invalid', !target);
  if (!target) {
    showProblem(text('GoToInvalid', count));
    return;
  }
  if (obsMode && remote && scene === remote.activeScene) {
    call('Scroll', { command: 'seek', scene, target: input.value.trim() }).then(applyState, (e) => showProblem(messageOf(e.code)));
    return;
  }
  const p = target.paragraph ? docEl.children[target.paragraph - 1] : null;
  reader.scrollTop = goToScroll(target, { scrollTop: reader.scrollTop, scrollHeight: reader.scrollHeight,
    clientHeight: reader.clientHeight,
    paragraphTop: p ? p.getBoundingClientRect().top - reader.getBoundingClientRect().top : 0 });
  position = reader.scrollTop;
}

function updatePercent() {
  const range = reader.scrollHeight - reader.clientHeight;
  $('percent').textContent = `${range > 0 ? Math.round((reader.scrollTop / range) * 100) : 0}%`;
}

function updateCounts() {
  const count = docEl.children.length;
  $('lines').textContent = `${text('RemoteLines')} ${count}`;
  const used = docEl.textContent.length + Math.max(0, count - 1)
    + [...docEl.querySelectorAll('br')].filter((br) => br.nextSibling || br.parentNode.lastChild !== br).length;
  const sel = getSelection();
  const selected = sel.rangeCount && !sel.isCollapsed && docEl.contains(sel.anchorNode) ? sel.toString().length : 0;
  $('characters').textContent = selected ? text('SelectedCharacters', selected) : text('CharacterCount', used);
  $('characters').title = text('CharacterRemaining', used, LIMITS.characters, Math.max(0, LIMITS.characters - used));
  updatePercent();
}

// ---------------------------------------------------------------------------------------------
// Import and export

const WORD_TYPE = 'application/vnd.openxmlformats-officedocument.wordprocessingml.document';

async function importFile(file) {
  if (!online || !scene || saves?.busy || importing || draftProblem || remote?.locked || someoneElseEdits()) return;
  const name = file.name.toLowerCase();
  const kind = name.endsWith('.docx') ? 'docx' : /\.html?$/.test(name) ? 'html' : name.endsWith('.txt') ? 'txt' : '';
  if (!kind) return showProblem(text('RemoteFileType'));
  if (kind === 'docx' && file.size > 5 * 1024 * 1024) return showProblem(text('RemoteWordSize'));
  if (kind !== 'docx' && file.size > 1024 * 1024) return showProblem(text('RemoteFileSize'));
  let converted = null;
  if (kind !== 'docx') {
    const body = await file.text();
    const result = kind === 'html'
      ? importHtml(body, (html) => new DOMParser().parseFromString(html, 'text/html')) : plainDocument(body);
    if (result.code) return showProblem(messageOf(result.code));
    if (utf8Length(JSON.stringify(result.document)) > LIMITS.bytes) return showProblem(text('RemoteTooLarge'));
    converted = result.document;
  }
  if (!confirm(text('ReplacePrompt') + '\n\n' + text(kind === 'docx' ? 'RemoteWordNotice' : 'RemoteHtmlNotice'))) return;
  const wasEditing = editing;
  if (wasEditing) await saveNow();
  if (wasEditing && !editing) return;
  importing = true;
  updateOwner();
  let leased = wasEditing;
  try {
    if (!wasEditing) {
      lease.acquireSent();
      try {
        await call('AcquireEdit', { scene, epoch, revision, replace: true });
      } finally {
        lease.acquireSettled();
      }
      leased = true;
    }
    const quoted = saves ? saves.revision : revision;
    let reply;
    if (kind === 'docx') reply = await upload(file, quoted);
    else reply = await call('ReplaceDocument', { scene, epoch, revision: quoted, document: converted });
    if (!Array.isArray(reply.blocks) || !Number.isInteger(reply.revision)) throw new RemoteError('response');
    model = reply;
    revision = reply.revision;
    if (saves) saves.revision = reply.revision;
    sequence += 1;
    savedSequence = sequence;
    clearDraft(scene);
    show(reply.blocks);
    clearProblem();
    if (!wasEditing || reply.editable === false) {
      if (editing) {
        editing = false;
        saves = null;
        setEditable(false);
      }
      forgetOwnLease();
      releaseLease();
    }
    if (reply.simplified === true) showProblem(text('WordSimplified'));
  } catch (error) {
    if (leased && !wasEditing) releaseLease();
    showProblem(messageOf(error.code));
  } finally {
    importing = false;
    updateOwner();
  }
}

async function upload(file, quoted) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), 35000);
  try {
    const response = await fetch('/import.docx', {
      method: 'POST', body: file, signal: abort.signal, cache: 'no-store', headers: {
        'Content-Type': WORD_TYPE, 'X-Quillmar-Access': access, 'X-Quillmar-Session': session,
        'X-Quillmar-Scene': scene, 'X-Quillmar-Epoch': epoch, 'X-Quillmar-Revision': String(quoted),
      },
    });
    const body = await response.text();
    if (body.length > 8 * 1024 * 1024) throw new RemoteError('upload');
    let reply;
    try {
      reply = JSON.parse(body);
    } catch {
      throw new RemoteError('upload');
    }
    if (!reply || reply.ok !== true) throw new RemoteError(typeof reply?.code === 'string' ? reply.code : 'upload');
    return reply;
  } catch (error) {
    throw error instanceof RemoteError ? error : new RemoteError('upload');
  } finally {
    clearTimeout(timer);
  }
}

function download(name, body, type) {
  const url = URL.createObjectURL(new Blob([body], { type: type + ';charset=utf-8' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

async function exportNote(kind) {
  if (!online || !scene) return;
  if (editing) await saveNow();
  try {
    const reply = await call(kind === 'html' ? 'ExportHtml' : 'ExportText', { scene });
    const body = kind === 'html' ? reply.html : reply.text;
    if (typeof body !== 'string') throw new RemoteError('response');
    download(kind === 'html' ? 'Quillmar.html' : 'Quillmar.txt', body, kind === 'html' ? 'text/html' : 'text/plain');
  } catch (error) {
    showProblem(messageOf(error.code));
  }
}

// The draft as a file that opens from disk without this page's protections: built as nodes of
// an inert document and serialised, so its text cannot turn into markup.
function downloadDraft() {
  const draft = readDraft(scene) || (editing || draftProblem ? { document: serialize(docEl) } : null);
  if (!draft) return;
  const inert = document.implementation.createHTMLDocument('');
  const blocks = Array.isArray(draft.document?.blocks) ? draft.document.blocks : [];
  inert.body.replaceChildren(...render(blocks, inert));
  download('Quillmar-draft.html', '<!doctype html><meta charset="utf-8"><body>' + inert.body.innerHTML + '</body>',
    'text/html');
}

// ---------------------------------------------------------------------------------------------
// Views. The reader is the first; others (the prompter) register here and take over the
// workspace's reading area while shown.

const views = new Map([['reader', { enter() {}, leave() {} }]]);
let view = 'reader';

export function registerView(name, handlers) {
  views.set(name, handlers);
}

export function switchView(name) {
  if (!views.has(name) || name === view) return;
  finishEdit();
  views.get(view).leave();
  view = name;
  views.get(view).enter({ document: () => serialize(docEl), remote: () => remote, call });
}

// ---------------------------------------------------------------------------------------------
// Wiring

function wire() {
  $('login').addEventListener('submit', (event) => {
    event.preventDefault();
    if (!access) return;
    const password = $('password').value;
    $('password').value = '';
    loginError('');
    retryDelay = 1000;
    connect(password);
  });
  $('disconnect').onclick = async () => {
    await finishEdit();
    signOut();
  };
  $('scenes').onchange = async () => {
    const id = $('scenes').value;
    $('follow').checked = false;
    await finishEdit();
    if (draftProblem) {
      draftProblem = false;
      clearProblem();
    }
    loadScene(id);
  };
  $('follow').onchange = async () => {
    await finishEdit();
    if (remote) applyState(remote, true);
  };
  docEl.addEventListener('pointerdown', (event) => {
    if (event.altKey && event.shiftKey) {
      if (editing) setTimeout(() => insertText(MARK + '[]', 1), 0);
      return;
    }
    if (!editing) {
      touchedAt = [event.clientX, event.clientY];
      beginEdit();
    }
  });
  docEl.addEventListener('focus', () => { if (!editing) beginEdit(); });
  document.addEventListener('pointerdown', (event) => {
    if (!editing) return;
    const t = event.target;
    if (docEl.contains(t) || $('text-tools').contains(t) || $('paragraph').contains(t) || $('problem').contains(t)) return;
    finishEdit();
  });
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) finishEdit();
  });
  document.addEventListener('selectionchange', () => {
    if (!$('workspace').hidden) updateCounts();
  });
  addEventListener('beforeunload', (event) => {
    if ((editing && sequence !== savedSequence) || draftProblem) {
      if (editing) keepDraft();
      event.preventDefault();
      event.returnValue = '';
    }
  });
  // Leaving with the lease: keep the text and give the lease back while the socket still works.
  addEventListener('pagehide', () => {
    if (!editing) return;
    keepDraft();
    conn?.call({ access, session, action: 'ReleaseEdit' }).catch(() => {});
  });
  $('retry').onclick = () => {
    if (!online) connect();
    else if (draftProblem) resumeDraft();
    else loadScene(scene);
  };
  $('reload').onclick = () => {
    if (draftProblem && !confirm(text('RemoteReload'))) return;
    clearDraft(scene);
    draftProblem = false;
    clearProblem();
    loadScene(scene);
  };
  $('download').onclick = downloadDraft;
  $('import').onclick = () => $('import-file').click();
  $('import-file').onchange = () => {
    const file = $('import-file').files[0];
    $('import-file').value = '';
    if (file) importFile(file);
  };
  $('export').onchange = () => {
    const kind = $('export').value;
    $('export').value = '';
    if (kind) exportNote(kind);
  };
  $('search').addEventListener('input', () => {
    clearTimeout(searchTimer);
    searchTimer = setTimeout(() => runSearch(false), 180);
  });
  $('search').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      step(event.shiftKey ? -1 : 1);
    }
  });
  $('next').onclick = () => step(1);
  $('previous').onclick = () => step(-1);
  $('clear-search').onclick = () => {
    $('search').value = '';
    runSearch(false);
  };
  $('play').onclick = play;
  $('top').onclick = () => {
    if (obsMode) call('Scroll', { command: 'top' }).then(applyState, (e) => showProblem(messageOf(e.code)));
    else {
      reader.scrollTop = 0;
      position = 0;
    }
  };
  $('guide').onclick = () => {
    const on = $('guide').getAttribute('aria-pressed') !== 'true';
    $('guide').setAttribute('aria-pressed', String(on));
    updatePlayState();
  };
  $('speed').addEventListener('input', () => setSpeed($('speed').value, false));
  $('speed').addEventListener('change', () => setSpeed($('speed').value, true));
  $('target').onclick = () => {
    obsMode = !obsMode;
    stopLocal();
    $('target').setAttribute('aria-pressed', String(obsMode));
    const label = $('target').querySelector('span');
    label.dataset.text = obsMode ? 'RemoteOBS' : 'RemoteLocal';
    label.textContent = text(label.dataset.text);
    updatePlayState();
  };
  $('go-to').addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      goTo();
    }
  });
  $('go-to').addEventListener('input', () => $('go-to').classList.remove('invalid'));
  addEventListener('resize', placeBand);
  setupFormatting();
}

async function resumeDraft() {
  const draft = readDraft(scene);
  if (!draft) return;
  if (draft.epoch !== epoch || draft.revision !== revision || !documentFits(draft.document)) {
    offerDraft(draft);
    return;
  }
  show(draft.document.blocks);
  clearProblem();
  // Not even asked (locked, playing, offline meanwhile): the offer stays.
  if (!(await beginEdit(true)) && $('problem').hidden) offerDraft(draft);
}

async function readConfig() {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), 10000);
  try {
    const response = await fetch('/config.json', { cache: 'no-store', signal: abort.signal });
    const body = await response.text();
    if (body.length > 1024 * 1024) return null;
    const config = JSON.parse(body);
    return config && typeof config === 'object' ? config : null;
  } catch {
    return null;
  } finally {
    clearTimeout(timer);
  }
}

let prompterView = null;

async function start() {
  // The token leaves the address bar, the history and the share sheet before anything waits.
  const hash = location.hash;
  if (hash) history.replaceState(null, '', '/');
  prompterView = setUpPrompterView({
    reader, body: document.body, timeLeft: $('time-left'),
    controls: { toggle: $('prompter'), horizontal: $('mirror-h'), vertical: $('mirror-v'), larger: $('type-larger'), smaller: $('type-smaller') },
  });
  wire();
  setSpeed(1, false);
  const config = await readConfig();
  if (config) {
    if (Number.isInteger(config.port) && config.port > 0 && config.port < 65536) port = config.port;
    if (config.labels && typeof config.labels === 'object') {
      labels = Object.fromEntries(Object.entries(config.labels).filter(([, v]) => typeof v === 'string'));
    }
  }
  applyLabels();
  $('device').value = defaultDevice();
  const stored = load('localStorage', 'quillmar.link');
  const found = accessFromAddress(hash, typeof stored === 'string' ? stored : null);
  access = found.token;
  if (found.store) store('localStorage', 'quillmar.link', access);
  if (!access || !config) {
    $('connect').disabled = true;
    loginError(text('RemoteFailure'));
    return;
  }
  const remembered = load('sessionStorage', sessionKey());
  if (remembered && validCredential(remembered.credential)) {
    $('remember').checked = true;
    if (typeof remembered.name === 'string' && remembered.name !== 'Browser') $('device').value = remembered.name.slice(0, 32);
    connect();
  }
}

start();
