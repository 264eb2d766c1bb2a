// The page's side of the block document, held against the vectors the C++ side passes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import {
  checkDocument, saveCheck, render, serialize, importHtml, plainDocument, listMarkers, colorName, markEndingAt,
  parseGoTo, findMatches, markSpans, togglePatch, listPatch, indentPatch, FormatPainter, pieceAt, nextMarkAt,
  goToScroll,
} from '../../../src/remote/client/document.mjs';
import { accessFromAddress } from '../../../src/remote/client/protocol.mjs';
import { doc, container, parseHtml } from './dom.mjs';

const read = (path) => expand(JSON.parse(readFileSync(new URL(`../../data/${path}`, import.meta.url), 'utf8')));
const vectors = (name) => read(`blocks/${name}.json`).cases;

function expand(value) {
  if (Array.isArray(value)) {
    return value.flatMap((item) => (item && typeof item === 'object' && '$repeat' in item && typeof item.$repeat !== 'string'
      ? Array.from({ length: item.times }, () => expand(item.$repeat)) : [expand(item)]));
  }
  if (value && typeof value === 'object') {
    if (typeof value.$repeat === 'string') return value.$repeat.repeat(value.times);
    return Object.fromEntries(Object.entries(value).map(([k, v]) => [k, expand(v)]));
  }
  return value;
}

// The comparison the vectors' README describes: groups renumbered, runs per character, bullet
// lists without a start, size 0 and family "" in the expected side matching anything.
function comparable(blocks, loose) {
  const groups = new Map();
  return blocks.map((b) => {
    const group = b.listGroup ? (groups.get(b.listGroup) ?? groups.set(b.listGroup, groups.size + 1).get(b.listGroup)) : 0;
    const chars = b.runs.flatMap((r) => [...r.text].map((c) => {
      const f = { c, weight: r.weight, italic: !!r.italic, underline: !!r.underline, strike: !!r.strike,
        size: r.size, family: r.family, color: r.color, background: r.background };
      if (loose && r.size === 0) delete f.size;
      if (loose && r.family === '') delete f.family;
      return f;
    }));
    return { align: b.align, indent: b.indent, list: b.list, listIndent: b.listIndent, listGroup: group,
      listStart: b.list < 0 && b.list >= -3 ? 1 : b.listStart, chars };
  });
}

function assertSameBlocks(actual, expected) {
  const want = comparable(expected, true);
  const got = comparable(actual, false).map((b, i) => ({ ...b,
    chars: b.chars.map((c, j) => Object.fromEntries(Object.keys(want[i]?.chars[j] ?? c).map((k) => [k, c[k]]))) }));
  assert.deepEqual(got, want);
}

const roundTrip = (blocks) => serialize(container(render(blocks, doc))).blocks;

test('documents the module refuses are refused with its code; the ones it gives come back unchanged', async (t) => {
  for (const file of ['validation', 'limits', 'apply']) {
    for (const c of vectors(file)) {
      if (c.html !== undefined && c.error) continue; // refused for the stored note, not the document
      await t.test(`${file}: ${c.name}`, () => assert.equal(checkDocument(c.document), c.error ?? null));
    }
  }
  // What the module exports comes back unchanged through the editor.
  const cases = [
    ...vectors('export').filter((c) => c.editable).map((c) => [`export: ${c.name}`, c.blocks]),
    ...vectors('apply').map((c) => [`apply: ${c.name}`, c.result]),
  ];
  for (const [name, blocks] of cases) {
    await t.test(name, () => (assert.equal(checkDocument({ blocks }), null), assertSameBlocks(roundTrip(blocks), blocks)));
  }
});

const run = (text, extra = {}) => ({ text, weight: 400, italic: false, underline: false, strike: false, size: 0,
  family: '', color: '', background: '', ...extra });
const block = (runs) => ({ align: 1, indent: 0, list: 0, listIndent: 1, listGroup: 0, listStart: 1, runs });

test('markup in runs and names stays text and never reaches a style', () => {
  const evil = '<img src=x onerror=alert(1)><script>alert(2)</script>';
  const paragraphs = render([block([run(evil, { family: 'x";background:url(//e)' }),
    run('!', { color: 'url(//e)', weight: 700 })])], doc);
  const root = container(paragraphs);
  assert.deepEqual([[...new Set([...root.descendants()].map((e) => e.nodeName))], root.textContent], [['P', 'SPAN'], evil + '!']);
  const [span, refused] = paragraphs[0].childNodes;
  assert.equal(span.style.getPropertyValue('font-family'), '"x\\";background:url(//e)"');
  assert.deepEqual([...refused.style.keys()], []);
  assert.equal(serialize(root).blocks[0].runs[0].text, evil);
});

// Calls of the page's pure functions (and of the sign-in's reading of its address) and what
// each returns: tests/data/remote/document_calls.json, partial blocks and runs completed here.
test('editing tools, imports and colours', async (t) => {
  const full = ({ runs = [], ...rest }) => ({ ...block(runs.map((r) => run('', r))), ...rest });
  const calls = {
    accessFromAddress, colorName, markEndingAt, markSpans, parseGoTo, findMatches, pieceAt, nextMarkAt, goToScroll,
    listMarkers: (blocks) => listMarkers(blocks.map(full)),
    togglePatch: (name, formats) => togglePatch(name, formats.map((f) => run('', f))),
    listPatch: (blocks, first, style) => listPatch(blocks.map(full), first, style),
    indentPatch: (b, step) => indentPatch(full(b), step),
    saveCheck: (blocks) => saveCheck({ blocks: blocks.map(full) }),
    importHtml: (...pieces) => {
      const result = importHtml(pieces.join(''), parseHtml);
      return result.code ?? result.document.blocks;
    },
    plainLines: (text) => {
      const result = plainDocument(text);
      if (result.code) return result.code;
      assert.equal(checkDocument(result.document), null);
      return result.document.blocks.map((b) => b.runs.map((r) => r.text).join(''));
    },
  };
  for (const { name, calls: rows, want } of read('remote/document_calls.json')) {
    await t.test(name, () => assert.deepEqual(rows.map(([f, ...args]) => calls[f](...args)), want));
  }
  const painted = (steps, p = new FormatPainter()) => steps.map((step) => (step === 'use' ? p.use() : (p[step](step), p.format)));
  await t.test('format painter: one use after a click, every use after a double click', () => assert.deepEqual(
    [painted(['click', 'use', 'use']), painted(['click', 'click', 'use']), painted(['doubleClick', 'use', 'use', 'drop', 'use'])],
    [['click', 'click', null], ['click', null, null], ['doubleClick', 'doubleClick', 'doubleClick', null, null]]));
});
