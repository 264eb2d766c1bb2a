// A few DOM nodes, enough for document.mjs to render into and serialise from under Node, and a
// small HTML reader for import cases. Text stays text: there is no innerHTML.

class Style extends Map {
  setProperty(name, value) { this.set(name, String(value)); }
  getPropertyValue(name) { return this.get(name) || ''; }
  removeProperty(name) { this.delete(name); }
}

class Node {
  constructor(nodeType, nodeName) { Object.assign(this, { nodeType, nodeName, childNodes: [] }); }
  appendChild(child) { return this.childNodes.push(child) && child; }
  get textContent() { return this.nodeType === 3 ? this.nodeValue : this.childNodes.map((c) => c.textContent).join(''); }
}

export class Element extends Node {
  constructor(name) { super(1, name.toUpperCase()); Object.assign(this, { attributes: new Map(), style: new Style() }); }
  setAttribute(name, value) {
    this.attributes.set(name, String(value));
    if (name !== 'style') return;
    for (const [, key, text] of String(value).matchAll(/([^;:]+):([^;]*)/g)) this.style.setProperty(key.trim().toLowerCase(), text.trim());
  }
  getAttribute(name) { return this.attributes.has(name) ? this.attributes.get(name) : null; }
  removeAttribute(name) { this.attributes.delete(name); }
  set className(value) { this.setAttribute('class', value); }
  get className() { return this.getAttribute('class') || ''; }
  set textContent(value) { this.childNodes = [new Text(value)]; }
  get textContent() { return super.textContent; }
  // Every element below this one, depth first.
  *descendants() {
    for (const child of this.childNodes) if (child.nodeType === 1) yield* [child, ...child.descendants()];
  }
}

export class Text extends Node {
  constructor(value) { super(3, '#text'); this.nodeValue = String(value); }
}

export const doc = {
  createElement: (name) => new Element(name),
  createTextNode: (value) => new Text(value),
};

export function container(children) {
  const root = new Element('div');
  for (const child of children) root.appendChild(child);
  return root;
}

const VOID = new Set(['BR', 'IMG', 'META', 'INPUT', 'HR', 'LINK', 'SOURCE']);
const ENTITIES = { lt: '<', gt: '>', amp: '&', quot: '"', apos: "'", nbsp: '\u00a0' };
const decode = (s) => s.replace(/&(#x?[0-9a-f]+|\w+);/gi, (all, e) => {
  if (e[0] !== '#') return ENTITIES[e] ?? all;
  return String.fromCodePoint(e[1] === 'x' || e[1] === 'X' ? parseInt(e.slice(2), 16) : Number(e.slice(1)));
});

// Tags, attributes, text and entities; enough for well-formed test input.
export function parseHtml(html) {
  const body = new Element('body');
  const stack = [body];
  const tag = /<(\/?)([a-zA-Z][\w-]*)((?:\s+[\w-]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*)\s*\/?>|<!--[\s\S]*?-->/g;
  let last = 0;
  for (const m of html.matchAll(tag)) {
    if (m.index > last) stack[stack.length - 1].appendChild(new Text(decode(html.slice(last, m.index))));
    last = m.index + m[0].length;
    if (!m[2]) continue;
    const name = m[2].toUpperCase();
    if (m[1]) {
      const at = stack.map((e) => e.nodeName).lastIndexOf(name);
      if (at > 0) stack.length = at;
      continue;
    }
    const element = new Element(name);
    for (const a of m[3].matchAll(/([\w-]+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))?/g))
      element.setAttribute(a[1].toLowerCase(), decode(a[2] ?? a[3] ?? a[4] ?? ''));
    stack[stack.length - 1].appendChild(element);
    if (!VOID.has(name)) stack.push(element);
  }
  if (last < html.length) stack[stack.length - 1].appendChild(new Text(decode(html.slice(last))));
  return { body };
}
