// The QVM language for the editor: a line-by-line reader that names each
// token (directive, channel marker, note, length, command, number, octave
// step, repeat bracket, loop, loop mark, comment, title), the classes the
// page colours them by, and the matching of the language's bracket pairs:
// [ ], /: :/, { } and < >.
import { StreamLanguage } from '@codemirror/language';
import { Tag, tagHighlighter } from '@lezer/highlight';
import { Decoration, ViewPlugin } from '@codemirror/view';

const KINDS = ['directive', 'marker', 'note', 'rest', 'length', 'command', 'number', 'octave', 'repeat', 'loop',
  'loopMark', 'comment', 'title', 'invalid', 'word'];
const tags = Object.fromEntries(KINDS.map((kind) => [kind, Tag.define()]));

// Each token's class: `qvm-note` on a note, and so on.
export const qvmClasses = tagHighlighter(KINDS.map((kind) => ({ tag: tags[kind], class: `qvm-${kind}` })));

const DIRECTIVES = /^#(TITLE|CHANNEL|PRAGMA|WAV|END)/;

function startState() {
  // comment: nesting depth; header: before the first channel marker; expect:
  // what the last directive takes next; title/wave: inside its < >;
  // afterNote: a number here is a length (also on the next line: the
  // compiler reads across line ends); ended: past #END; lineStart: nothing
  // but blanks and comments yet on this line, where a channel marker may stand.
  return { comment: 0, header: true, expect: null, title: false, wave: false, afterNote: false, ended: false, lineStart: true };
}

function copyState(s) {
  return { ...s };
}

function comment(stream, state) {
  while (!stream.eol() && state.comment > 0) {
    const c = stream.next();
    if (c === '\\') stream.next();
    else if (c === '{') state.comment++;
    else if (c === '}') state.comment--;
  }
  return 'comment';
}

function token(stream, state) {
  if (stream.sol()) state.lineStart = true;
  if (state.ended) {
    stream.skipToEnd();
    return 'comment';
  }
  if (state.comment > 0) return comment(stream, state);
  if (state.title) {
    // A title is taken byte for byte up to its '>' (\> and \\ escaped).
    if (stream.peek() === '>') {
      stream.next();
      state.title = false;
      return 'title';
    }
    while (!stream.eol() && stream.peek() !== '>' && stream.peek() !== '{') {
      if (stream.next() === '\\') stream.next();
    }
    if (stream.peek() === '{') state.title = false; // a comment ends the title
    return 'title';
  }
  // Blanks are spaces and tabs only, as in the compiler.
  if (stream.match(/^[ \t]+/)) return null;
  const c = stream.peek();
  if (c === '{') {
    stream.next();
    state.comment = 1;
    return comment(stream, state);
  }
  const lineStart = state.lineStart;
  state.lineStart = false;
  if (c === '}') {
    stream.next();
    return 'invalid';
  }
  if (c === '\\') {
    stream.next();
    stream.next();
    return null;
  }
  if (c === '#') {
    const directive = stream.match(DIRECTIVES);
    if (directive) {
      state.expect = directive[1];
      state.header = true; // the lines after a directive belong to the header
      state.afterNote = false;
      if (directive[1] === 'END') state.ended = true;
      return 'directive';
    }
    // A marker: the line's first token (blanks and comments may stand
    // before it), then a blank, a comment or the line's end.
    if (lineStart && stream.match(/^#[A-Za-z](?=[ \t{]|$)/)) {
      state.header = false;
      state.expect = null;
      state.afterNote = false;
      return 'marker';
    }
  }
  if (state.header || state.expect) return headerToken(stream, state);
  return musicToken(stream, state);
}

function headerToken(stream, state) {
  const c = stream.peek();
  if (c === '<' && state.expect === 'TITLE') {
    stream.next();
    state.title = true;
    return 'title';
  }
  if (c === '<' && state.expect === 'WAV') {
    stream.next();
    state.wave = true;
    return null;
  }
  if (c === '>' && state.wave) {
    stream.next();
    state.wave = false;
    state.expect = null;
    return null;
  }
  if (stream.match(/^-?\d+/)) return 'number';
  if (stream.match(/^[A-Za-z]+/)) return state.expect === 'PRAGMA' ? 'word' : 'invalid';
  if (stream.match(/^\[\d*/) || stream.match(/^[\]|]/)) return 'repeat';
  if (stream.match(/^[,()]/)) return null;
  stream.next();
  return state.header && !state.expect ? 'invalid' : null;
}

function musicToken(stream, state) {
  if (stream.match(/^[a-g][+#-]*/)) {
    state.afterNote = true;
    return 'note';
  }
  if (stream.eat('r')) {
    state.afterNote = true;
    return 'rest';
  }
  if (stream.match(/^\d+/)) return state.afterNote ? 'length' : 'number';
  if (stream.match(/^[.^]+/)) return 'length';
  state.afterNote = false;
  if (stream.match(/^(mp|[vskotlq@%])/)) return 'command';
  if (stream.match(/^-\d+/)) return 'number';
  if (stream.eat(',')) return null;
  if (stream.match(/^[<>]/)) return 'octave';
  if (stream.match(/^\[\d*/) || stream.match(/^[\]|]/)) return 'repeat';
  if (stream.match('/:') || stream.match(':/') || stream.eat('/')) return 'loop';
  if (stream.eat('$')) return 'loopMark';
  stream.next();
  return 'invalid';
}

export const qvmLanguage = StreamLanguage.define({
  name: 'qvm',
  startState,
  copyState,
  token,
  tokenTable: tags,
  languageData: { commentTokens: { block: { open: '{', close: '}' } } },
});

// ---- bracket pairs ---------------------------------------------------------

// Every bracket of the text with its partner's position (-1 when it has
// none): [ ] repeats, /: :/ loops, { } comments (nested) and < > (octave
// steps, a title, a wave list). Escaped characters pair with nothing.
export function bracketPairs(text) {
  const found = new Map(); // start -> {from, to, partner: {from, to} | null}
  const stacks = { '[': [], '/:': [], '{': [], '<': [] };
  const open = (kind, from, to) => {
    const item = { from, to, partner: null };
    found.set(from, item);
    stacks[kind].push(item);
  };
  const close = (kind, from, to) => {
    const item = { from, to, partner: null };
    found.set(from, item);
    const partner = stacks[kind].pop();
    if (partner) {
      partner.partner = item;
      item.partner = partner;
    }
  };
  let depth = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (c === '\\') {
      i++;
      continue;
    }
    if (c === '{') {
      depth++;
      open('{', i, i + 1);
    } else if (c === '}') {
      if (depth > 0) depth--;
      close('{', i, i + 1);
    } else if (depth > 0) {
      continue;
    } else if (c === '[') open('[', i, i + 1);
    else if (c === ']') close('[', i, i + 1);
    else if (c === '<') open('<', i, i + 1);
    else if (c === '>') close('<', i, i + 1);
    else if (c === '/' && text[i + 1] === ':') {
      open('/:', i, i + 2);
      i++;
    } else if (c === ':' && text[i + 1] === '/') {
      close('/:', i, i + 2);
      i++;
    }
  }
  return found;
}

const matching = Decoration.mark({ class: 'cm-matchingBracket' });
const unmatched = Decoration.mark({ class: 'cm-nonmatchingBracket' });

// Marks the bracket at the cursor (or just before it) and its partner.
export const qvmBrackets = ViewPlugin.fromClass(class {
  constructor(view) {
    this.pairs = null;
    this.decorations = this.mark(view.state);
  }

  update(update) {
    if (update.docChanged) this.pairs = null;
    if (update.docChanged || update.selectionSet) this.decorations = this.mark(update.state);
  }

  bracketAt(pos) {
    for (const at of [pos, pos - 1, pos - 2]) {
      const item = this.pairs.get(at);
      if (item && item.from <= pos && pos <= item.to) return item;
    }
    return null;
  }

  mark(state) {
    const { main } = state.selection;
    if (!main.empty || state.doc.length > 1 << 20) return Decoration.none;
    this.pairs ||= bracketPairs(state.doc.toString());
    const item = this.bracketAt(main.head);
    if (!item) return Decoration.none;
    if (!item.partner) return Decoration.set([unmatched.range(item.from, item.to)]);
    const [a, b] = item.from < item.partner.from ? [item, item.partner] : [item.partner, item];
    return Decoration.set([matching.range(a.from, a.to), matching.range(b.from, b.to)]);
  }
}, { decorations: (plugin) => plugin.decorations });
