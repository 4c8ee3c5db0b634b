// The passes of a song's [ ] repeat brackets over time. A bracket copies
// its text before the song is compiled, so the song knows nothing of it;
// but every surveyed note and rest carries the place of its letter in the
// source, and one placed inside a bracket at or before the one read last
// begins the bracket's next pass. Brackets do not nest, so a channel is
// inside one bracket at most.
import { bracketPairs } from './qvm_language.js';
import { EVENT, EVENT_SIZE, AT } from './core.js';

// A place as one ordered number: line, then row.
const placeKey = (line, row) => line * 2 ** 31 + row;

// Every [ ] of the text: {start, end} as place keys (rows in bytes from 1,
// as the compiler counts them) and its count (2 when none is written), in
// order.
export function bracketsOf(text) {
  const lineStarts = [0];
  for (let i = text.indexOf('\n'); i >= 0; i = text.indexOf('\n', i + 1)) lineStarts.push(i + 1);
  // Bytes are counted on from the place before on the same line, so a long
  // line of many brackets is read once, not once per bracket.
  const encoder = new TextEncoder();
  const cursor = { line: 0, at: 0, bytes: 0 };
  const placeOf = (at) => {
    const line = lastAtOrBefore(lineStarts, at);
    if (line !== cursor.line || at < cursor.at) Object.assign(cursor, { line, at: lineStarts[line], bytes: 0 });
    cursor.bytes += encoder.encode(text.slice(cursor.at, at)).length;
    cursor.at = at;
    return placeKey(line + 1, cursor.bytes + 1);
  };
  const brackets = [];
  for (const item of bracketPairs(text).values()) {
    if (text[item.from] !== '[' || !item.partner) continue;
    const count = /^\[(\d*)/.exec(text.slice(item.from, item.from + 12))[1];
    brackets.push({ start: placeOf(item.from), end: placeOf(item.partner.from), count: count === '' ? 2 : Number(count) });
  }
  return brackets.sort((a, b) => a.start - b.start);
}

// The index of the last value at or before `value` in an ascending list (-1: none).
function lastAtOrBefore(list, value) {
  let low = 0;
  let high = list.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (list[mid] <= value) low = mid + 1;
    else high = mid;
  }
  return low - 1;
}

// The passes laid out as the survey's loop passes are (six values each:
// channel, from, to, pass, count, depth 0).
export function bracketPasses(survey, channels, brackets) {
  const starts = brackets.map((b) => b.start);
  const out = [];
  const open = Array.from({ length: channels }, () => ({ bracket: -1, pass: 0, from: 0, last: -1 }));
  const close = (channel, frame) => {
    const at = open[channel];
    if (at.bracket >= 0 && frame > at.from) out.push(channel, at.from, frame, at.pass, brackets[at.bracket].count, 0);
    at.bracket = -1;
  };
  const e = survey.events;
  for (let i = 0; brackets.length > 0 && i + EVENT_SIZE <= e.length; i += EVENT_SIZE) {
    const [kind, channel, frame] = [e[i + AT.KIND], e[i + AT.CHANNEL], e[i + AT.FRAME]];
    if (channel < 0 || channel >= channels) continue;
    const at = open[channel];
    if (kind === EVENT.JUMP || kind === EVENT.END) {
      close(channel, frame);
      at.last = -1;
      continue;
    }
    if ((kind !== EVENT.NOTE && kind !== EVENT.REST) || e[i + AT.LINE] <= 0) continue;
    const key = placeKey(e[i + AT.LINE], e[i + AT.ROW]);
    const last = lastAtOrBefore(starts, key);
    const bracket = last >= 0 && key <= brackets[last].end ? last : -1;
    const again = bracket >= 0 && bracket === at.bracket && key <= at.last;
    if (bracket !== at.bracket || again) {
      const pass = again && at.pass < brackets[bracket].count ? at.pass + 1 : 1;
      close(channel, frame);
      if (bracket >= 0) Object.assign(at, { bracket, pass, from: frame });
    }
    at.last = key;
  }
  const end = survey.endFrame >= 0 ? survey.endFrame : (e.length ? e[e.length - EVENT_SIZE + AT.FRAME] : 0);
  for (let channel = 0; channel < channels; channel++) close(channel, end);
  return out;
}
