// The page's side of the block document, held against the vectors the C++ side passes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import {
  checkDocument, saveCheck, render, serialize, importHtml, plainDocument, listMarkers, colorName, markEndingAt,
  parseGoTo, findMatches, LIMITS, markSpans, togglePatch, listPatch, indentPatch, FormatPainter, pieceAt, nextMarkAt,
  goToScroll,
} from '../../../src/remote/client/document.mjs';
import { doc, container, parseHtml } from './dom.mjs';

const vectors = (name) => {
  const file = fileURLToPath(new URL(`../../data/blocks/${name}.json`, import.meta.url));
  return expand(JSON.parse(readFileSync(file, 'utf8'))).cases;
};

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

test('documents the module refuses are refused with its code, the ones it takes are taken', async (t) => {
  for (const file of ['validation', 'limits', 'apply']) {
    for (const c of vectors(file)) {
      if (c.html !== undefined && c.error) continue; // refused for the stored note, not the document
      await t.test(`${file}: ${c.name}`, () => assert.equal(checkDocument(c.document), c.error ?? null));
    }
  }
});

test('what the module exports comes back unchanged through the editor', async (t) => {
  const cases = [
    ...vectors('export').filter((c) => c.editable).map((c) => [`export: ${c.name}`, c.blocks]),
    ...vectors('apply').map((c) => [`apply: ${c.name}`, c.result]),
  ];
  for (const [name, blocks] of cases) {
    await t.test(name, () => {
      assert.equal(checkDocument({ blocks }), null);
      assertSameBlocks(roundTrip(blocks), blocks);
    });
  }
});

const run = (text, extra = {}) => ({ text, weight: 400, italic: false, underline: false, strike: false, size: 0,
  family: '', color: '', background: '', ...extra });
const block = (runs) => ({ align: 1, indent: 0, list: 0, listIndent: 1, listGroup: 0, listStart: 1, runs });

test('a save is checked against every note limit and the request size', async (t) => {
  const rows = [
    ['at every limit', [block([run('a'.repeat(LIMITS.paragraph))])], null],
    ['paragraph one over', [block([run('a'.repeat(5000)), run('b'.repeat(5001), { weight: 700 })])], 'limit'],
    ['runs one over', Array.from({ length: 20 }, (_, i) => block(Array.from({ length: i ? 5000 : 5001 },
      (_, j) => run('x', { weight: j % 2 ? 700 : 400 })))), 'limit'],
    ['over 4 MiB of JSON', Array.from({ length: 20000 }, () => block([run('é'.repeat(9), { family: 'f'.repeat(200) })])), 'size'],
    ['forbidden character', [block([run('a\u0000')])], 'format'],
  ];
  for (const [name, blocks, want] of rows) await t.test(name, () => assert.equal(saveCheck({ blocks }), want));
});

test('markup in runs and names stays text and never reaches a style', () => {
  const evil = '<img src=x onerror=alert(1)><script>alert(2)</script>';
  const paragraphs = render([block([run(evil, { family: 'x";background:url(//e)' }),
    run('!', { color: 'url(//e)', weight: 700 })])], doc);
  const root = container(paragraphs);
  const names = [...root.descendants()].map((e) => e.nodeName);
  assert.deepEqual([...new Set(names)], ['P', 'SPAN']);
  assert.equal(root.textContent, evil + '!');
  const [span, refused] = paragraphs[0].childNodes;
  assert.equal(span.style.getPropertyValue('font-family'), '"x\\";background:url(//e)"');
  assert.deepEqual([...refused.style.keys()], []);
  assert.equal(serialize(root).blocks[0].runs[0].text, evil);
});

test('HTML import', async (t) => {
  const parse = (html) => parseHtml(html);
  const texts = (r) => r.document.blocks.map((b) => b.runs.map((x) => x.text).join(''));
  const rows = [
    ['active content dropped', '<p>a<script>alert(1)</script><img src=x onerror=y>b<style>p{}</style></p>',
      (r) => assert.deepEqual(texts(r), ['ab'])],
    ['headings bold and sized', '<h1>T</h1><p>x</p>', (r) => {
      assert.deepEqual(r.document.blocks[0].runs[0], run('T', { weight: 700, size: 24, family: 'Arial' }));
      assert.deepEqual(r.document.blocks[1].runs[0], run('x', { size: 12, family: 'Arial' }));
    }],
    ['nested lists and start', '<ol start="0"><li>a<ul><li>b</li></ul></li><li>c</li></ol>', (r) => {
      const b = r.document.blocks;
      assert.deepEqual(b.map((x) => [x.list, x.listIndent, x.listStart]), [[-4, 1, 1], [-1, 2, 1], [-4, 1, 1]]);
      assert.equal(b[0].listGroup, b[2].listGroup);
    }],
    ['sizes clamped, family first listed', '<p><span style="font-size: 400pt; font-family: \'Georgia\', serif">x</span></p>',
      (r) => assert.deepEqual(r.document.blocks[0].runs[0], run('x', { size: 144, family: 'Georgia' }))],
    ['too deep', '<div>'.repeat(LIMITS.depth + 2) + 'x', (r) => assert.equal(r.code, 'format')],
    ['too many runs for an import', '<p>' + '<b>a</b>b'.repeat(LIMITS.importRuns / 2 + 1) + '</p>', (r) => assert.equal(r.code, 'size')],
    ['too much HTML', 'a'.repeat(LIMITS.html + 1), (r) => assert.equal(r.code, 'size')],
  ];
  for (const [name, html, check] of rows) await t.test(name, () => check(importHtml(html, parse)));
});

// Calls of the page's pure functions and what each returns: tests/data/remote/document_calls.json,
// with partial blocks and runs completed by the builders above.
test('editing tools, imports and colours', async (t) => {
  const full = (b) => ({ ...block([]), ...b });
  const calls = {
    colorName, markEndingAt, markSpans, parseGoTo, findMatches, pieceAt, nextMarkAt, goToScroll,
    listMarkers: (blocks) => listMarkers(blocks.map(full)),
    togglePatch: (name, formats) => togglePatch(name, formats.map((f) => run('', f))),
    listPatch: (blocks, first, style) => listPatch(blocks.map(full), first, style),
    indentPatch: (b, step) => indentPatch(full(b), step),
    plainLines: (text) => {
      const result = plainDocument(text);
      if (result.code) return result.code;
      assert.equal(checkDocument(result.document), null);
      return result.document.blocks.map((b) => b.runs.map((r) => r.text).join(''));
    },
  };
  const file = fileURLToPath(new URL('../../data/remote/document_calls.json', import.meta.url));
  for (const { name, calls: rows, want } of expand(JSON.parse(readFileSync(file, 'utf8')))) {
    await t.test(name, () => assert.deepEqual(rows.map(([f, ...args]) => calls[f](...args)), want));
  }
  const painted = (steps, p = new FormatPainter()) => steps.map((step) => (step === 'use' ? p.use() : (p[step](step), p.format)));
  await t.test('format painter: one use after a click, every use after a double click', () => assert.deepEqual(
    [painted(['click', 'use', 'use']), painted(['click', 'click', 'use']), painted(['doubleClick', 'use', 'use', 'drop', 'use'])],
    [['click', 'click', null], ['click', null, null], ['doubleClick', 'doubleClick', 'doubleClick', null, null]]));
});
