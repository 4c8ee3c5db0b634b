// The song editor: CodeMirror with the QVM language, the compiler's errors
// and warnings as diagnostics under the text, help on hover for every
// directive and command (from the guide's tables, read at build time),
// undo, search, the page's own keys, and the notes heard lit as a song plays.
import { ChangeSet, Compartment, EditorState, Prec, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration, EditorView, keymap, lineNumbers, highlightActiveLine, highlightActiveLineGutter, drawSelection, hoverTooltip,
} from '@codemirror/view';
import { history, defaultKeymap, historyKeymap, indentWithTab } from '@codemirror/commands';
import { searchKeymap, highlightSelectionMatches } from '@codemirror/search';
import { lintGutter, setDiagnostics, forEachDiagnostic, lintKeymap } from '@codemirror/lint';
import { ensureSyntaxTree, syntaxHighlighting, syntaxTree } from '@codemirror/language';
import help from 'qvm-help';
import { qvmLanguage, qvmClasses, qvmBrackets } from './qvm_language.js';

// The position of a line and a row the compiler counted in bytes from 1
// (row 0: the line's start; line 0: the whole song, shown at its start).
export function positionOf(doc, line, row) {
  if (line < 1) return 0;
  const text = doc.line(Math.min(line, doc.lines));
  const bytes = new TextEncoder().encode(text.text).subarray(0, Math.max(0, row - 1));
  return text.from + new TextDecoder().decode(bytes).replace(/\uFFFD$/, '').length;
}

// The help row a token stands for: its directive, command or note letter.
function helpKey(name, text) {
  if (name === 'directive') return text;
  if (name === 'note') return text.length > 1 && text[1] !== ' ' ? [text[0], text[1]] : text[0];
  if (name === 'rest') return 'r';
  if (name === 'command') return text;
  if (name === 'octave') return text;
  if (name === 'length') return /^[.^]/.test(text) ? text[0] : 'length';
  return null;
}

function helpBox(keys) {
  const box = document.createElement('div');
  box.className = 'qvm-help';
  for (const key of [keys].flat()) {
    for (const entry of help[key] || []) {
      const head = document.createElement('div');
      head.className = 'qvm-help-usage';
      head.textContent = entry.usage + (entry.range ? ` — ${entry.range}` : '');
      const text = document.createElement('div');
      text.textContent = entry.text;
      const example = document.createElement('div');
      example.className = 'qvm-help-example';
      example.textContent = `e.g. ${entry.example}`;
      box.append(head, text, example);
    }
  }
  return box.childElementCount > 0 ? box : null;
}

const hoverHelp = hoverTooltip((view, pos, side) => {
  const node = syntaxTree(view.state).resolveInner(pos, side);
  if (node.from === node.to) return null;
  const key = helpKey(node.name, view.state.sliceDoc(node.from, node.to));
  const dom = key && helpBox(key);
  if (!dom) return null;
  return { pos: node.from, end: node.to, above: true, create: () => ({ dom }) };
});

// The notes being heard: a mark on each one's letter, set afresh by the
// player's clock and mapped through edits until then.
const setLit = StateEffect.define();
const litMark = Decoration.mark({ class: 'qvm-lit' });
const litNotes = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    for (const effect of transaction.effects) if (effect.is(setLit)) return effect.value;
    return marks.map(transaction.changes);
  },
  provide: (field) => EditorView.decorations.from(field),
});

// The edits since the text was set, as one change from that text.
const sinceSet = StateField.define({
  create: (state) => ChangeSet.empty(state.doc.length),
  update: (changes, transaction) => (transaction.docChanged ? changes.compose(transaction.changes) : changes),
});

// keys: [{key, run}] that act on the page (play, compile now), before the
// editor's own. onChange(text, kept) after every edit of the text by hand:
// kept is how many of its characters are still those of the text as set.
// wrapWhen: a media query while which long lines wrap (a narrow screen).
export function createEditor(parent, { onChange, keys = [], wrapWhen = null }) {
  let version = 0; // one more with every change of the text
  let litKey = '';
  const wrapping = new Compartment();
  const wrapped = () => (wrapWhen?.matches ? EditorView.lineWrapping : []);
  const extensions = [
    Prec.highest(keymap.of(keys.map(({ key, run }) => ({ key, run: () => (run(), true), preventDefault: true })))),
    lineNumbers(),
    highlightActiveLineGutter(),
    highlightActiveLine(),
    drawSelection(),
    history(),
    qvmLanguage,
    syntaxHighlighting(qvmClasses),
    qvmBrackets,
    highlightSelectionMatches(),
    lintGutter(),
    hoverHelp,
    litNotes,
    sinceSet,
    EditorState.tabSize.of(4),
    keymap.of([...defaultKeymap, ...historyKeymap, ...searchKeymap, ...lintKeymap, indentWithTab]),
    EditorView.contentAttributes.of({ 'aria-label': 'Song source', spellcheck: 'false', autocapitalize: 'off' }),
    EditorView.updateListener.of((update) => {
      if (!update.docChanged) return;
      version++;
      const byHand = update.transactions.some((t) => t.isUserEvent('input') || t.isUserEvent('delete')
        || t.isUserEvent('undo') || t.isUserEvent('redo') || t.isUserEvent('move'));
      if (!byHand) return;
      let kept = 0;
      update.state.field(sinceSet).iterGaps((fromA, fromB, length) => {
        kept += length;
      });
      onChange(update.state.doc.toString(), kept);
    }),
  ];
  const locked = [EditorState.readOnly.of(true), EditorView.editable.of(false)];
  const stateOf = (doc, readOnly) => EditorState.create({ doc, extensions: [extensions, wrapping.of(wrapped()), readOnly ? locked : []] });
  const view = new EditorView({ parent, state: stateOf('', false) });
  wrapWhen?.addEventListener('change', () => view.dispatch({ effects: wrapping.reconfigure(wrapped()) }));

  return {
    view,
    text: () => view.state.doc.toString(),
    // Which text the editor holds: compiles and surveys made of another
    // version place nothing in it.
    version: () => version,
    // A new text (not an edit: the undo history starts again).
    setText(text, readOnly = false) {
      version++;
      litKey = '';
      view.setState(stateOf(text, readOnly));
    },
    readOnly: () => view.state.readOnly,
    // items: [{severity, message, line, row}] as the compiler counts lines and rows.
    showDiagnostics(items) {
      const { doc } = view.state;
      const diagnostics = items.map(({ severity, message, line, row }) => {
        const from = positionOf(doc, line, row);
        const end = doc.lineAt(from).to;
        return { from, to: Math.min(end, from + 1), severity, message };
      });
      view.dispatch(setDiagnostics(view.state, diagnostics));
    },
    // What is shown: [{severity, line, message}], lines from 1.
    diagnostics() {
      const shown = [];
      forEachDiagnostic(view.state, (d, from) => shown.push({ severity: d.severity, line: view.state.doc.lineAt(from).number, message: d.message }));
      return shown;
    },
    // Every token of the whole text as the editor colours it: [{kind, line, text}].
    tokens() {
      const { state } = view;
      const found = [];
      ensureSyntaxTree(state, state.doc.length, 5000)?.iterate({
        enter: (node) => {
          if (node.type.isTop) return;
          found.push({ kind: node.name, line: state.doc.lineAt(node.from).number, text: state.sliceDoc(node.from, node.to) });
        },
      });
      return found;
    },
    // Lights the letters at places [{line, row}] as the compiler counts
    // them, and no others; none for an empty list.
    light(places) {
      const key = places.map(({ line, row }) => `${line}:${row}`).join(' ');
      if (key === litKey) return;
      litKey = key;
      const { doc } = view.state;
      const marks = [];
      for (const { line, row } of places) {
        if (line < 1 || line > doc.lines) continue;
        const from = positionOf(doc, line, row);
        if (from < doc.lineAt(from).to) marks.push(litMark.range(from, from + 1));
      }
      view.dispatch({ effects: setLit.of(Decoration.set(marks, true)) });
    },
    // What is lit: [{line, row, letter}], rows as the compiler counts them.
    lit() {
      const shown = [];
      const { doc } = view.state;
      view.state.field(litNotes).between(0, doc.length, (from, to) => {
        const line = doc.lineAt(from);
        const row = new TextEncoder().encode(doc.sliceString(line.from, from)).length + 1;
        shown.push({ line: line.number, row, letter: doc.sliceString(from, to) });
      });
      return shown;
    },
    goTo(line, row) {
      const at = positionOf(view.state.doc, line, row);
      view.dispatch({ selection: { anchor: at, head: Math.min(view.state.doc.lineAt(at).to, at + 1) }, scrollIntoView: true });
      view.focus();
    },
  };
}
