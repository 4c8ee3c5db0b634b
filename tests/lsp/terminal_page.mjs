// A terminal's screen as tmux gives it (capture-pane -e: text with the SGR
// colour sequences) turned into an HTML page of the same cells, for a
// browser to draw: the colours of the 256-colour palette, bold, underline and
// reverse. Usage: node terminal_page.mjs SCREEN.ans PAGE.html
import { readFileSync, writeFileSync } from 'node:fs';

const [input, output] = process.argv.slice(2);
const base = ['#000000', '#cd0000', '#00cd00', '#cdcd00', '#0000ee', '#cd00cd', '#00cdcd', '#e5e5e5',
  '#7f7f7f', '#ff0000', '#00ff00', '#ffff00', '#5c5cff', '#ff00ff', '#00ffff', '#ffffff'];
const palette = (n) => {
  if (n < 16) return base[n];
  if (n >= 232) { const v = 8 + 10 * (n - 232); return `rgb(${v},${v},${v})`; }
  const c = n - 16, level = (v) => (v === 0 ? 0 : 55 + 40 * v);
  return `rgb(${level(Math.floor(c / 36))},${level(Math.floor(c / 6) % 6)},${level(c % 6)})`;
};
const plain = { fg: null, bg: null, bold: false, underline: false, reverse: false };
let style = { ...plain };
const escape = (t) => t.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
const span = (text) => {
  if (!text) return '';
  let fg = style.fg ?? '#d0d0d0', bg = style.bg ?? '#1c1c1c';
  if (style.reverse) [fg, bg] = [bg, fg];
  const css = [`color:${fg}`, `background:${bg}`];
  if (style.bold) css.push('font-weight:bold');
  if (style.underline) css.push('text-decoration:underline');
  return `<span style="${css.join(';')}">${escape(text)}</span>`;
};
const apply = (codes) => {
  for (let i = 0; i < codes.length; i++) {
    const c = codes[i];
    if (c === 0) style = { ...plain };
    else if (c === 1) style.bold = true;
    else if (c === 4) style.underline = true;
    else if (c === 7) style.reverse = true;
    else if (c === 22) style.bold = false;
    else if (c === 24) style.underline = false;
    else if (c === 27) style.reverse = false;
    else if (c >= 30 && c <= 37) style.fg = base[c - 30];
    else if (c >= 90 && c <= 97) style.fg = base[c - 82];
    else if (c === 39) style.fg = null;
    else if (c >= 40 && c <= 47) style.bg = base[c - 40];
    else if (c >= 100 && c <= 107) style.bg = base[c - 92];
    else if (c === 49) style.bg = null;
    else if ((c === 38 || c === 48) && codes[i + 1] === 5) {
      style[c === 38 ? 'fg' : 'bg'] = palette(codes[i + 2]);
      i += 2;
    } else if ((c === 38 || c === 48) && codes[i + 1] === 2) {
      style[c === 38 ? 'fg' : 'bg'] = `rgb(${codes[i + 2]},${codes[i + 3]},${codes[i + 4]})`;
      i += 4;
    }
  }
};
let html = '';
for (const line of readFileSync(input, 'utf8').replace(/\n$/, '').split('\n')) {
  let text = '';
  for (const part of line.split(/(\x1b\[[0-9;]*m)/)) {
    const sgr = /^\x1b\[([0-9;]*)m$/.exec(part);
    if (!sgr) { text += part; continue; }
    html += span(text);
    text = '';
    apply(sgr[1] === '' ? [0] : sgr[1].split(';').map(Number));
  }
  html += span(text) + '\n';
  style = { ...plain };
}
writeFileSync(output, `<!doctype html><meta charset="utf-8"><body style="margin:0;background:#1c1c1c">` +
  `<pre style="margin:8px;font:14px/1.25 'DejaVu Sans Mono',monospace">${html}</pre>`);
