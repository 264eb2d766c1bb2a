// Conversions between the page's editable DOM and the block document that the module sends and
// accepts, with the module's limits and validation rules, so that a save the page lets through
// is one the module takes. Nothing here builds markup from strings: elements come from
// createElement, text from createTextNode, styles through the CSS object model.

export const LIMITS = Object.freeze({
  characters: 200000, // run texts plus one separator between paragraphs
  paragraph: 10000,
  paragraphs: 20000,
  runs: 100000,
  importRuns: 20000, // stricter for imported files only
  bytes: 4194304, // compact JSON of a document
  html: 1048576,
  importText: 1048576,
  depth: 64,
  family: 200,
  colorName: 9,
  indent: 12,
  listStart: 10000,
});

export const MARK = '\u25C6';
export const LINE_BREAK = '\u2028';
export const FAMILIES = Object.freeze(['Arial', 'Verdana', 'Georgia', 'Times New Roman', 'Courier New',
  'Microsoft YaHei', 'PingFang SC']);
export const SIZE_RANGE = Object.freeze({ min: 6, max: 144, standard: 12 });

// A run format with nothing set: size 0 and family "" leave the stored text's own values.
export const PLAIN = Object.freeze({
  weight: 400, italic: false, underline: false, strike: false, size: 0, family: '', color: '', background: '',
});
// What "clear formatting" and imported text get.
export const BASIC = Object.freeze({ ...PLAIN, size: SIZE_RANGE.standard, family: 'Arial' });

const FORMAT_KEYS = Object.keys(PLAIN);

// ---------------------------------------------------------------------------------------------
// Colours, accepted as the module's colour parser accepts them: #rgb, #rrggbb, #aarrggbb with an
// opaque alpha, or a colour keyword; nine characters at most. Written back as #rrggbb.

const NAMED = new Map(('aliceblue:f0f8ff aqua:00ffff azure:f0ffff beige:f5f5dc bisque:ffe4c4 black:000000 '
  + 'blue:0000ff brown:a52a2a burlywood:deb887 cadetblue:5f9ea0 chocolate:d2691e coral:ff7f50 '
  + 'cornsilk:fff8dc crimson:dc143c cyan:00ffff darkblue:00008b darkcyan:008b8b darkgray:a9a9a9 '
  + 'darkgreen:006400 darkgrey:a9a9a9 darkkhaki:bdb76b darkred:8b0000 deeppink:ff1493 dimgray:696969 '
  + 'dimgrey:696969 firebrick:b22222 fuchsia:ff00ff gainsboro:dcdcdc gold:ffd700 goldenrod:daa520 '
  + 'gray:808080 green:008000 grey:808080 honeydew:f0fff0 hotpink:ff69b4 indianred:cd5c5c indigo:4b0082 '
  + 'ivory:fffff0 khaki:f0e68c lavender:e6e6fa lawngreen:7cfc00 lightblue:add8e6 lightcyan:e0ffff '
  + 'lightgray:d3d3d3 lightgrey:d3d3d3 lightpink:ffb6c1 lime:00ff00 limegreen:32cd32 linen:faf0e6 '
  + 'magenta:ff00ff maroon:800000 mintcream:f5fffa mistyrose:ffe4e1 moccasin:ffe4b5 navy:000080 '
  + 'oldlace:fdf5e6 olive:808000 olivedrab:6b8e23 orange:ffa500 orangered:ff4500 orchid:da70d6 '
  + 'palegreen:98fb98 peachpuff:ffdab9 peru:cd853f pink:ffc0cb plum:dda0dd purple:800080 red:ff0000 '
  + 'rosybrown:bc8f8f royalblue:4169e1 salmon:fa8072 seagreen:2e8b57 seashell:fff5ee sienna:a0522d '
  + 'silver:c0c0c0 skyblue:87ceeb slateblue:6a5acd slategray:708090 slategrey:708090 snow:fffafa '
  + 'steelblue:4682b4 tan:d2b48c teal:008080 thistle:d8bfd8 tomato:ff6347 turquoise:40e0d0 violet:ee82ee '
  + 'wheat:f5deb3 white:ffffff yellow:ffff00').split(' ').map((pair) => pair.split(':')));

// '#rrggbb', '' for no colour, or null when the module would refuse the value.
export function colorName(value) {
  if (typeof value !== 'string') return '';
  if (value.length > LIMITS.colorName) return null;
  if (value === '') return '';
  let m = /^#([0-9a-f]{3}|[0-9a-f]{6}|[0-9a-f]{8})$/i.exec(value);
  if (m) {
    const hex = m[1].toLowerCase();
    if (hex.length === 3) return '#' + [...hex].map((c) => c + c).join('');
    if (hex.length === 8) return hex.startsWith('ff') ? '#' + hex.slice(2) : null;
    return '#' + hex;
  }
  m = NAMED.get(value.replace(/ /g, '').toLowerCase());
  return m ? '#' + m : null;
}

// A colour the browser wrote ("rgb(1, 2, 3)", "#abc", a keyword) as '#rrggbb'; see-through or
// unknown colours become '' (no colour) rather than failing, since the page made them.
export function cssColor(value) {
  const text = String(value || '').trim().toLowerCase();
  const rgb = /^rgba?\(\s*(\d+)[\s,]+(\d+)[\s,]+(\d+)(?:[\s,/]+([\d.]+%?))?\s*\)$/.exec(text);
  if (rgb) {
    if (rgb[4] !== undefined && parseFloat(rgb[4]) < (rgb[4].endsWith('%') ? 100 : 1)) return '';
    return '#' + rgb.slice(1, 4).map((n) => Math.min(255, Number(n)).toString(16).padStart(2, '0')).join('');
  }
  return colorName(text) || '';
}

// ---------------------------------------------------------------------------------------------
// Validation, in the module's order, so that the first fault found gives the module's code.

const whole = (v) => typeof v === 'number' && Number.isInteger(v) ? v : NaN;
const BLOCK_RANGES = {
  align: (v) => v === 1 || v === 2 || v === 4 || v === 8,
  indent: (v) => v >= 0 && v <= LIMITS.indent,
  list: (v) => v >= -8 && v <= 0,
  listIndent: (v) => v >= 1 && v <= LIMITS.indent,
  listStart: (v) => v >= 1 && v <= LIMITS.listStart,
};

// The run format the module reads from a run object, or null when it refuses the run.
export function runFormat(run) {
  const size = typeof run.size === 'number' ? run.size : -1;
  const weight = whole(run.weight);
  if (!Number.isFinite(size) || size < 0 || size > 500 || !(weight >= 1 && weight <= 1000)) return null;
  const family = typeof run.family === 'string' ? run.family : '';
  if (family.length > LIMITS.family) return null;
  const color = colorName(run.color);
  const background = colorName(run.background);
  if (color === null || background === null) return null;
  return { weight, italic: run.italic === true, underline: run.underline === true, strike: run.strike === true,
    size, family, color, background };
}

// Forbidden in run text: paragraph and line feeds, NUL, object and frame characters, unpaired
// surrogates. U+2028 is the soft line break.
export function textAllowed(text) {
  return !/[\n\r\0\u2029\uFFFC\uFDD0\uFDD1]|[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/
    .test(text);
}

export function cleanText(text) {
  return String(text).replace(/\r\n?|\n|\u2029/g, LINE_BREAK)
    .replace(/[\0\uFFFC\uFDD0\uFDD1]|[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, '');
}

// null when the module would accept the document for a save, else its code: "limit" or "format".
export function checkDocument(document) {
  const blocks = document && typeof document === 'object' ? document.blocks : undefined;
  if (!Array.isArray(blocks) || blocks.length === 0) return 'format';
  if (blocks.length > LIMITS.paragraphs) return 'limit';
  let total = 0;
  let runs = 0;
  for (const block of blocks) {
    if (!block || typeof block !== 'object' || Array.isArray(block)) return 'format';
    for (const [key, valid] of Object.entries(BLOCK_RANGES)) if (!valid(whole(block[key]))) return 'format';
    if (!Array.isArray(block.runs)) return 'format';
    let length = 0;
    for (const run of block.runs) {
      if (!run || typeof run !== 'object' || Array.isArray(run)) return 'format';
      if (runs >= LIMITS.runs) return 'format';
      if (typeof run.text !== 'string') return 'format';
      length += run.text.length;
      if (length > LIMITS.paragraph || total + run.text.length > LIMITS.characters) return 'limit';
      if (!runFormat(run) || !textAllowed(run.text)) return 'format';
      total += run.text.length;
      runs += 1;
    }
    total += 1;
  }
  return total - 1 > LIMITS.characters ? 'limit' : null;
}

// What a save must pass in the page: the module's rules, every note limit (runs included) as
// "limit", and the size of the request as "size".
export function saveCheck(document) {
  const runs = Array.isArray(document?.blocks)
    ? document.blocks.reduce((n, b) => n + (Array.isArray(b?.runs) ? b.runs.length : 0), 0) : 0;
  if (runs > LIMITS.runs) return 'limit';
  const code = checkDocument(document);
  if (code) return code;
  return utf8Length(JSON.stringify(document)) > LIMITS.bytes ? 'size' : null;
}

export function utf8Length(text) {
  return new TextEncoder().encode(text).length;
}

// Characters as the module counts them: run texts plus one separator between paragraphs.
export function characterCount(blocks) {
  let n = blocks.length - 1;
  for (const block of blocks) for (const run of block.runs) n += run.text.length;
  return Math.max(0, n);
}

// ---------------------------------------------------------------------------------------------
// Lists

const BULLETS = { '-1': '\u2022', '-2': '\u25E6', '-3': '\u25AA' };

function letters(n, upper) {
  let s = '';
  for (let k = n; k > 0; k = Math.floor((k - 1) / 26)) s = String.fromCharCode(97 + ((k - 1) % 26)) + s;
  return upper ? s.toUpperCase() : s;
}

function roman(n, upper) {
  const table = [[1000, 'm'], [900, 'cm'], [500, 'd'], [400, 'cd'], [100, 'c'], [90, 'xc'], [50, 'l'], [40, 'xl'],
    [10, 'x'], [9, 'ix'], [5, 'v'], [4, 'iv'], [1, 'i']];
  let s = '';
  for (const [value, digits] of table) for (; n >= value; n -= value) s += digits;
  return upper ? s.toUpperCase() : s;
}

export function listMarker(style, number) {
  if (BULLETS[style]) return BULLETS[style];
  if (number < 1) return '';
  switch (style) {
    case -4: return number + '.';
    case -5: return letters(number, false) + '.';
    case -6: return letters(number, true) + '.';
    case -7: return roman(number, false) + '.';
    case -8: return roman(number, true) + '.';
    default: return '';
  }
}

// The marker of every block: numbering goes on while a list's group recurs, from its start.
export function listMarkers(blocks) {
  const counters = new Map();
  return blocks.map((block) => {
    if (!block.list) return '';
    const group = block.listGroup || `${block.list}/${block.listIndent}`;
    const next = counters.has(group) ? counters.get(group) + 1 : (block.listStart || 1);
    counters.set(group, next);
    return listMarker(block.list, next);
  });
}

// ---------------------------------------------------------------------------------------------
// Rendering: block document to elements of the page.

const ALIGN_CSS = { 1: 'left', 2: 'right', 4: 'center', 8: 'justify' };
const BLOCK_ATTRS = [['align', 'data-align', 1], ['indent', 'data-indent', 0], ['list', 'data-list', 0],
  ['listIndent', 'data-list-indent', 1], ['listGroup', 'data-list-group', 0], ['listStart', 'data-list-start', 1]];

// A family as a CSS string, whatever characters it holds.
export function cssFamily(family) {
  return '"' + family.replace(/[\\"]/g, '\\$&').replace(/[\n\r\f]/g, ' ') + '"';
}

// Styles of a run through the CSS object model; families and colours validated beforehand.
export function styleRun(element, format) {
  const style = element.style;
  if (format.weight !== 400) style.setProperty('font-weight', String(format.weight));
  if (format.italic) style.setProperty('font-style', 'italic');
  const lines = [format.underline && 'underline', format.strike && 'line-through'].filter(Boolean);
  if (lines.length) style.setProperty('text-decoration', lines.join(' '));
  if (format.size > 0) style.setProperty('font-size', format.size + 'pt');
  if (format.family) style.setProperty('font-family', cssFamily(format.family));
  if (format.color) style.setProperty('color', format.color);
  if (format.background) style.setProperty('background-color', format.background);
}

export function blockIndentEm(block) {
  return Math.min(LIMITS.indent, (block.indent || 0) + (block.list ? block.listIndent || 1 : 0)) * 1.4;
}

// Sets a paragraph's keys, alignment, indent and list marker.
export function styleParagraph(p, block, marker) {
  for (const [key, attr, standard] of BLOCK_ATTRS) p.setAttribute(attr, String(block[key] ?? standard));
  p.style.setProperty('text-align', ALIGN_CSS[block.align] || 'left');
  const indent = blockIndentEm(block);
  if (indent) p.style.setProperty('margin-left', indent + 'em');
  else p.style.removeProperty('margin-left');
  if (marker) p.setAttribute('data-marker', marker);
  else p.removeAttribute('data-marker');
}

// Text with soft breaks as text nodes and <br>; marks as unbreakable groups when asked.
function appendText(doc, parent, text, marks) {
  const parts = text.split(LINE_BREAK);
  parts.forEach((part, i) => {
    if (i > 0) parent.appendChild(doc.createElement('br'));
    if (!part) return;
    if (!marks) {
      parent.appendChild(doc.createTextNode(part));
      return;
    }
    let last = 0;
    for (const [start, end] of markSpans(part)) {
      if (start > last) parent.appendChild(doc.createTextNode(part.slice(last, start)));
      const mark = doc.createElement('span');
      mark.className = 'mark';
      mark.textContent = part.slice(start, end);
      parent.appendChild(mark);
      last = end;
    }
    if (last < part.length) parent.appendChild(doc.createTextNode(part.slice(last)));
  });
}

// Paragraph elements for the blocks. Invalid run formats show as plain text rather than
// reaching a style; text is only ever text.
export function render(blocks, doc, { marks = false } = {}) {
  const markers = listMarkers(blocks);
  return blocks.map((block, i) => {
    const p = doc.createElement('p');
    styleParagraph(p, block, markers[i]);
    let text = '';
    for (const run of block.runs || []) {
      if (typeof run.text !== 'string' || !run.text) continue;
      const format = runFormat(run) || { ...PLAIN };
      const span = doc.createElement('span');
      span.setAttribute('data-format', JSON.stringify(format));
      styleRun(span, format);
      appendText(doc, span, cleanText(run.text), marks);
      p.appendChild(span);
      text += run.text;
    }
    // An empty paragraph, or one ending in a soft break, needs a last line to show.
    if (!text || text.endsWith(LINE_BREAK)) p.appendChild(doc.createElement('br'));
    return p;
  });
}

// ---------------------------------------------------------------------------------------------
// Serialising: elements of the page to a block document.

const BLOCK_TAGS = new Set(['P', 'DIV', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'LI', 'BLOCKQUOTE', 'PRE']);

function parseFormat(json) {
  try {
    const value = JSON.parse(json);
    return value && typeof value === 'object' ? runFormat(value) : null;
  } catch {
    return null;
  }
}

function cssSize(value) {
  const m = /^([\d.]+)(pt|px)$/.exec(String(value || '').trim());
  if (!m) return NaN;
  return m[2] === 'px' ? Number(m[1]) * 0.75 : Number(m[1]);
}

function firstFamily(value) {
  const first = String(value || '').split(',')[0].trim().replace(/^(["'])(.*)\1$/, '$2').replace(/\\(.)/g, '$1');
  return first.slice(0, LIMITS.family);
}

// The format an element gives its text, starting from the inherited one.
export function refineFormat(element, inherited) {
  let format = inherited;
  const formatJson = element.getAttribute && element.getAttribute('data-format');
  if (formatJson) format = parseFormat(formatJson) || format;
  format = { ...format };
  switch (element.nodeName) {
    case 'B': case 'STRONG': format.weight = 700; break;
    case 'I': case 'EM': format.italic = true; break;
    case 'U': case 'INS': format.underline = true; break;
    case 'S': case 'STRIKE': case 'DEL': format.strike = true; break;
    default: break;
  }
  const style = element.style;
  if (!style) return format;
  const weight = style.getPropertyValue('font-weight');
  if (weight) format.weight = weight === 'bold' ? 700 : weight === 'normal' ? 400 : Math.min(1000, Math.max(1, parseInt(weight, 10) || format.weight));
  const italic = style.getPropertyValue('font-style');
  if (italic) format.italic = italic === 'italic' || italic === 'oblique';
  const lines = style.getPropertyValue('text-decoration-line') || style.getPropertyValue('text-decoration');
  if (lines) {
    format.underline = lines.includes('underline');
    format.strike = lines.includes('line-through');
  }
  const size = cssSize(style.getPropertyValue('font-size'));
  if (size > 0) format.size = Math.min(500, Math.round(size * 100) / 100);
  const family = style.getPropertyValue('font-family');
  if (family) format.family = firstFamily(family);
  const color = style.getPropertyValue('color');
  if (color) format.color = cssColor(color);
  const background = style.getPropertyValue('background-color');
  if (background) format.background = cssColor(background);
  return format;
}

function blockOf(element) {
  const block = {};
  for (const [key, attr, standard] of BLOCK_ATTRS) {
    const raw = element.getAttribute ? element.getAttribute(attr) : null;
    const value = raw === null || raw === '' ? standard : Number(raw);
    block[key] = key === 'listGroup' || BLOCK_RANGES[key](value) ? value : standard;
  }
  if (!block.list) Object.assign(block, { listIndent: 1, listGroup: 0, listStart: 1 });
  block.runs = [];
  return block;
}

function sameFormat(a, b) {
  return FORMAT_KEYS.every((k) => a[k] === b[k]);
}

function pushRun(block, text, format) {
  if (!text) return;
  const last = block.runs[block.runs.length - 1];
  if (last && sameFormat(last, format)) last.text += text;
  else block.runs.push({ text, ...format });
}

// One paragraph's runs: line feeds and <br> become soft breaks, a lone <br> in an empty paragraph
// and a trailing one (the browser's placeholder) do not count.
function collectRuns(block, element) {
  const pieces = [];
  const walk = (node, format) => {
    for (const child of node.childNodes) {
      if (child.nodeType === 3) pieces.push([cleanText(child.nodeValue), format]);
      else if (child.nodeType === 1) {
        if (child.nodeName === 'BR') pieces.push([LINE_BREAK, format, true]);
        else walk(child, refineFormat(child, format));
      }
    }
  };
  walk(element, refineFormat(element, PLAIN));
  if (pieces.length && pieces[pieces.length - 1][2]) pieces.pop();
  if (!pieces.some(([text, , br]) => !br && text)) return;
  for (const [text, format] of pieces) pushRun(block, text, format);
}

// The block document of the editor's content; an empty editor gives one empty block.
export function serialize(root) {
  const blocks = [];
  let loose = null; // inline content straight inside the root
  for (const child of root.childNodes) {
    if (child.nodeType === 1 && BLOCK_TAGS.has(child.nodeName)) {
      loose = null;
      const block = blockOf(child);
      collectRuns(block, child);
      blocks.push(block);
    } else if (child.nodeType === 1 || (child.nodeType === 3 && child.nodeValue)) {
      if (!loose) {
        loose = { nodeName: 'P', childNodes: [], getAttribute: () => null };
        blocks.push(loose);
      }
      loose.childNodes.push(child);
    }
  }
  const result = blocks.map((b) => {
    if (b.runs) return b;
    const block = blockOf(b);
    collectRuns(block, b);
    return block;
  });
  if (!result.length) result.push(blockOf({}));
  return { blocks: result };
}

// ---------------------------------------------------------------------------------------------
// Plain text files

export function plainDocument(text) {
  const body = String(text).replace(/^\uFEFF/, '');
  if (/[\0\uFFFC\uFDD0\uFDD1]/.test(body)) return { code: 'format' };
  if (body.length > LIMITS.characters + LIMITS.paragraphs * 2) return { code: 'limit' };
  const lines = body.split(/\r\n|\r|\n|\u2029/);
  if (lines.length > LIMITS.paragraphs) return { code: 'limit' };
  let total = lines.length - 1;
  const blocks = [];
  for (const line of lines) {
    const clean = cleanText(line);
    if (clean.length > LIMITS.paragraph) return { code: 'limit' };
    total += clean.length;
    blocks.push(plainBlock(clean ? [{ text: clean, ...BASIC }] : []));
  }
  if (total > LIMITS.characters) return { code: 'limit' };
  return { document: { blocks } };
}

function plainBlock(runs, extra = {}) {
  return { align: 1, indent: 0, list: 0, listIndent: 1, listGroup: 0, listStart: 1, runs, ...extra };
}

// ---------------------------------------------------------------------------------------------
// HTML files, parsed inertly by the caller (DOMParser in the page) and walked here.

const DROPPED = new Set(['SCRIPT', 'STYLE', 'IFRAME', 'FRAME', 'FRAMESET', 'OBJECT', 'EMBED', 'APPLET', 'VIDEO',
  'AUDIO', 'CANVAS', 'SVG', 'MATH', 'FORM', 'INPUT', 'BUTTON', 'SELECT', 'TEXTAREA', 'OPTION', 'TEMPLATE', 'NOSCRIPT',
  'HEAD', 'TITLE', 'META', 'LINK', 'BASE', 'IMG', 'PICTURE', 'SOURCE', 'TRACK', 'MAP', 'AREA', 'DIALOG', 'svg', 'math']);
const PARAGRAPH_TAGS = new Set(['P', 'DIV', 'H1', 'H2', 'H3', 'H4', 'H5', 'H6', 'BLOCKQUOTE', 'PRE', 'LI', 'TD', 'TH']);
const HEADING_SIZES = { H1: 24, H2: 20, H3: 18, H4: 16, H5: 14, H6: 12 };
const LIST_TYPES = { disc: -1, circle: -2, square: -3, decimal: -4, 'lower-alpha': -5, 'lower-latin': -5,
  'upper-alpha': -6, 'upper-latin': -6, 'lower-roman': -7, 'upper-roman': -8 };
const TYPE_ATTR = { 1: -4, a: -5, A: -6, i: -7, I: -8, disc: -1, circle: -2, square: -3 };

class ImportFailure extends Error {
  constructor(code) {
    super(code);
    this.code = code;
  }
}

function importFormat(element, inherited) {
  const format = refineFormat(element, inherited);
  if (HEADING_SIZES[element.nodeName]) {
    format.weight = 700;
    format.size = HEADING_SIZES[element.nodeName];
  }
  if (element.nodeName === 'FONT') {
    const face = element.getAttribute('face');
    if (face) format.family = firstFamily(face);
    const color = element.getAttribute('color');
    if (color) format.color = cssColor(color);
  }
  format.size = format.size > 0 ? Math.min(SIZE_RANGE.max, Math.max(SIZE_RANGE.min, format.size)) : SIZE_RANGE.standard;
  if (!format.family) format.family = 'Arial';
  return format;
}

function listStyleOf(element) {
  const css = element.style && element.style.getPropertyValue('list-style-type');
  if (css && LIST_TYPES[css.trim()]) return LIST_TYPES[css.trim()];
  const type = element.getAttribute('type');
  if (type && TYPE_ATTR[type]) return TYPE_ATTR[type];
  return element.nodeName === 'OL' ? -4 : -1;
}

// Converts a parsed HTML document (its body, or any element) to a block document.
// Returns {document} or {code}: "size", "format" or "limit".
export function importTree(root) {
  const blocks = [];
  let runs = 0;
  let characters = 0;
  let groups = 0;
  let current = null;
  const open = (props) => {
    current = plainBlock([], props);
    current.length = 0;
  };
  const close = (keepEmpty) => {
    if (current && (current.runs.length || keepEmpty)) {
      if (blocks.length >= LIMITS.paragraphs) throw new ImportFailure('size');
      delete current.length;
      blocks.push(current);
    }
    current = null;
  };
  const addText = (text, format, props) => {
    if (!text) return;
    if (!current) open(props);
    characters += text.length;
    if (characters > LIMITS.importText) throw new ImportFailure('size');
    const last = current.runs[current.runs.length - 1];
    if (last && sameFormat(last, format)) last.text += text;
    else {
      if (++runs > LIMITS.importRuns) throw new ImportFailure('size');
      current.runs.push({ text, ...format });
    }
  };
  const walk = (node, format, props, depth, pre) => {
    if (depth > LIMITS.depth) throw new ImportFailure('format');
    for (const child of node.childNodes) {
      if (child.nodeType === 3) {
        let text = child.nodeValue;
        if (pre) {
          text.split(/\r\n|\r|\n/).forEach((line, i) => {
            if (i > 0) { close(true); open(props); }
            addText(cleanText(line), format, props);
          });
          continue;
        }
        text = text.replace(/[\s]+/g, ' ');
        if (!current || !current.runs.length) text = text.replace(/^ /, '');
        addText(cleanText(text), format, props);
        continue;
      }
      if (child.nodeType !== 1 || DROPPED.has(child.nodeName)) continue;
      const name = child.nodeName;
      if (name === 'BR') {
        if (!current) open(props);
        addText(LINE_BREAK, format, props);
        continue;
      }
      const childFormat = importFormat(child, format);
      if (name === 'UL' || name === 'OL') {
        close(false);
        const level = props.list ? Math.min(LIMITS.indent, props.listIndent + 1) : 1;
        const start = Math.min(LIMITS.listStart, Math.max(1, parseInt(child.getAttribute('start'), 10) || 1));
        walk(child, childFormat, { ...props, list: listStyleOf(child), listIndent: level, listGroup: ++groups,
          listStart: start }, depth + 1, pre);
        close(false);
        continue;
      }
      if (PARAGRAPH_TAGS.has(name)) {
        close(false);
        const own = { ...props };
        if (name !== 'LI' && !props.inItem) Object.assign(own, { list: 0, listIndent: 1, listGroup: 0, listStart: 1 });
        if (name === 'LI') own.inItem = true;
        const align = { left: 1, right: 2, center: 4, justify: 8 }[
          (child.style && child.style.getPropertyValue('text-align')) || child.getAttribute('align')];
        if (align) own.align = align;
        open(own);
        walk(child, childFormat, own, depth + 1, pre || name === 'PRE');
        close(name === 'P' || name === 'LI');
        continue;
      }
      walk(child, childFormat, props, depth + 1, pre);
    }
  };
  try {
    walk(root, importFormat({ nodeName: '#root', getAttribute: () => null }, BASIC),
      { align: 1, list: 0, listIndent: 1, listGroup: 0, listStart: 1 }, 0, false);
    close(false);
  } catch (error) {
    if (error instanceof ImportFailure) return { code: error.code };
    throw error;
  }
  for (const block of blocks) {
    delete block.inItem;
    const last = block.runs[block.runs.length - 1];
    if (last) last.text = last.text.replace(/ $/, '');
    block.runs = block.runs.filter((r) => r.text);
  }
  if (!blocks.length) blocks.push(plainBlock([]));
  const code = checkDocument({ blocks });
  return code ? { code } : { document: { blocks } };
}

// parse: text to a document that runs nothing (DOMParser's "text/html" in the page).
export function importHtml(html, parse) {
  if (String(html).length > LIMITS.html) return { code: 'size' };
  const parsed = parse(String(html));
  return importTree(parsed.body || parsed);
}

// ---------------------------------------------------------------------------------------------
// Marks: the mark character, optionally followed at once by a bracketed label.

export const MARK_PATTERN = /\u25C6(?:\[[^\u25C6\]\n\u2028]*\])?/g;

// The mark that ends exactly at offset of the text, as [start, end], or null.
export function markEndingAt(text, offset) {
  for (const m of text.matchAll(MARK_PATTERN)) {
    if (m.index + m[0].length === offset) return [m.index, offset];
    if (m.index >= offset) break;
  }
  return null;
}

// ---------------------------------------------------------------------------------------------
// Search: case-insensitive literal matches over the paragraphs joined by line breaks.

export function findMatches(text, needle, limit = 10000) {
  const out = [];
  if (!needle) return out;
  const hay = text.toLocaleLowerCase();
  const want = needle.toLocaleLowerCase();
  // Lower-casing can change lengths (e.g. "İ"); fall back to a case-sensitive search then.
  const exact = hay.length !== text.length || want.length !== needle.length;
  const h = exact ? text : hay;
  const w = exact ? needle : want;
  for (let i = h.indexOf(w); i >= 0 && out.length < limit; i = h.indexOf(w, i + w.length)) out.push(i);
  return out;
}

// Go-to: a paragraph number 1..count or a percentage 0..100 followed by "%".
export function parseGoTo(input, count) {
  const text = String(input).trim();
  if (!text || text.length > 10) return null;
  let m = /^(\d{1,3})%$/.exec(text);
  if (m) return Number(m[1]) <= 100 ? { percent: Number(m[1]) } : null;
  m = /^\d+$/.exec(text);
  if (m && Number(text) >= 1 && Number(text) <= count) return { paragraph: Number(text) };
  return null;
}

// Local date and time as "YYYY-MM-DD hh:mm:ss ".
export function timeStamp(date) {
  const two = (n) => String(n).padStart(2, '0');
  return `${String(date.getFullYear()).padStart(4, '0')}-${two(date.getMonth() + 1)}-${two(date.getDate())} `
    + `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())} `;
}

// ---------------------------------------------------------------------------------------------
// Editing tools: what a tool does to the formats and blocks it is given.

// Where the marks of a text start and end.
export const markSpans = (text) => [...text.matchAll(MARK_PATTERN)].map((m) => [m.index, m.index + m[0].length]);

const TOGGLES = { bold: ['weight', 700, 400], italic: ['italic', true, false], underline: ['underline', true, false],
  strike: ['strike', true, false] };

// A style button sets its style on the whole selection unless all of it has it already, so a
// selection of mixed weights becomes bold.
export function togglePatch(name, formats) {
  const [key, on, off] = TOGGLES[name];
  return { [key]: formats.length && formats.every((f) => f[key] === on) ? off : on };
}

// The list fields for the selected paragraphs, first the index of the first of them; a list
// continues the group of the paragraph just before when that is the same style at level 1.
export function listPatch(blocks, first, style) {
  if (!style) return { list: 0, listIndent: 1, listGroup: 0, listStart: 1 };
  const before = blocks[first - 1];
  const group = before && before.list === style && before.listIndent === 1 && before.listGroup ? before.listGroup
    : Math.max(0, ...blocks.map((b) => b.listGroup || 0)) + 1;
  return { list: style, listIndent: 1, listGroup: group, listStart: 1 };
}

// Indent less or more: list items move between levels 1 and 12, paragraphs between 0 and 12.
export const indentPatch = (block, step) => (block.list
  ? { listIndent: Math.min(LIMITS.indent, Math.max(1, block.listIndent + step)) }
  : { indent: Math.min(LIMITS.indent, Math.max(0, block.indent + step)) });

// The format painter: a click picks the format up for one use (a second click puts it down), a
// double click keeps it for every selection until Escape or the next click.
export class FormatPainter {
  constructor() {
    this.format = null;
    this.continuous = false;
  }

  click(format) {
    if (this.format) this.drop();
    else this.format = format;
  }

  doubleClick(format) {
    this.format = this.format || format;
    this.continuous = true;
  }

  drop() {
    this.format = null;
    this.continuous = false;
  }

  // The format for a new selection, or null when nothing is picked up.
  use() {
    const format = this.format;
    if (!this.continuous) this.drop();
    return format;
  }
}

// Which of the text pieces starting at starts (ascending) holds offset: the one it starts in,
// or for the end of a range, the one it ends in.
export function pieceAt(starts, offset, end = false) {
  for (let i = starts.length - 1; i >= 0; i--) if (starts[i] < offset || (!end && starts[i] === offset)) return i;
  return -1;
}

// The next mark at or after from, wrapping to the first; -1 without marks.
export function nextMarkAt(text, from) {
  const at = text.indexOf(MARK, from);
  return at >= 0 ? at : text.indexOf(MARK);
}

// The reader's scroll position for a go-to target: a percentage of the scroll range, or the
// paragraph (top offset from the reader's top) placed at 38.2 % of the reader's height.
export function goToScroll(target, { scrollTop, scrollHeight, clientHeight, paragraphTop = 0 }) {
  if (target.percent !== undefined) return (target.percent / 100) * Math.max(0, scrollHeight - clientHeight);
  return Math.min(Math.max(0, scrollHeight - clientHeight), Math.max(0, scrollTop + paragraphTop - clientHeight * 0.382));
}
