// Bundles the page's script with the editor it uses into one file of the
// built site, so the page needs no network beyond its own folder. The hover
// help comes from the guide's tables (docs/mml-guide.md), read here at build
// time: the guide is the one place where a command's range and default are
// written, and a build whose guide lacks a command's row fails. The language
// server's help is read from the same tables by the same rules
// (tools/lsp/guide_help_gen.cpp).
//
// usage: node bundle.mjs --entry site/app.js --out SITE/app.js --guide docs/mml-guide.md
import { readFileSync } from 'node:fs';
import { build } from 'esbuild';

const args = Object.fromEntries(
  process.argv.slice(2).flatMap((a, i, all) => (a.startsWith('--') ? [[a.slice(2), all[i + 1]]] : [])),
);

// The tables whose rows become help: the section title and, per column, what
// the column holds.
const SECTIONS = {
  'Header directives': ['usage', 'text', 'example'],
  'Notes and lengths': ['usage', 'text', 'example'],
  'Sound commands': ['usage', 'range', 'text', 'example'],
};

// What a reader hovers: every directive and command the guide's tables list.
const REQUIRED = ['#TITLE', '#CHANNEL', '#PRAGMA', '#WAV', 'c', 'd', 'e', 'f', 'g', 'a', 'b', '+', '#', '-', 'length',
  '.', '^', 'r', 'o', '<', '>', 'l', 'q', 'v', 's', 'k', 'mp', '@', '%', 't'];

function cells(row) {
  // A cell may hold `|` only inside backticks; the guide's tables have none.
  return row.trim().replace(/^\||\|$/g, '').split('|').map((c) => c.trim());
}

const plain = (text) => text.replace(/\*\*/g, '').replace(/`/g, '');

// The words a row's first cell names: `c d e f g a b` is seven notes,
// `#TITLE <text>` the directive, `v` r`,`l the command v; a row without code
// (number after the note) is the length.
function keysOf(cell) {
  const code = [...cell.matchAll(/`([^`]+)`/g)].map((m) => m[1]).filter((c) => c !== ',');
  if (code.length === 0) return ['length'];
  const first = code[0];
  if (/^([a-g] )+[a-g]$/.test(first)) return first.split(' ');
  if (cell.includes(' or ')) return code.map((c) => c.split(' ')[0]);
  return [first.split(' ')[0]];
}

function helpTable(guide) {
  const table = {};
  let section = null;
  for (const line of guide.split('\n')) {
    const heading = /^##+ (.*)$/.exec(line);
    if (heading) {
      section = SECTIONS[heading[1].trim()] ? heading[1].trim() : null;
      continue;
    }
    if (!section || !line.startsWith('|') || /^\|[-| ]+\|$/.test(line.trim())) continue;
    const row = cells(line);
    const columns = SECTIONS[section];
    if (row.length !== columns.length || row[0] === 'Directive' || row[0] === 'Command') continue;
    const entry = Object.fromEntries(columns.map((name, i) => [name, plain(row[i])]));
    for (const key of keysOf(row[0])) (table[key] ||= []).push(entry);
  }
  const missing = REQUIRED.filter((key) => !table[key]);
  if (missing.length > 0) throw new Error(`the guide's tables lack rows for ${missing.join(' ')}`);
  return table;
}

const help = helpTable(readFileSync(args.guide, 'utf8'));
const helpModule = {
  name: 'qvm-help',
  setup(b) {
    b.onResolve({ filter: /^qvm-help$/ }, () => ({ path: 'qvm-help', namespace: 'qvm-help' }));
    b.onLoad({ filter: /.*/, namespace: 'qvm-help' }, () => ({ contents: JSON.stringify(help), loader: 'json' }));
  },
};

await build({
  entryPoints: [args.entry],
  outfile: args.out,
  bundle: true,
  format: 'esm',
  minify: true,
  target: 'es2022',
  legalComments: 'none',
  // The worker and the worklet load core.js and share.js themselves; the page
  // bundles its own copies.
  plugins: [helpModule],
  logLevel: 'warning',
});
