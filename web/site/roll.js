// The song drawn as it plays: one lane per channel, each note a bar from the
// frame it is first heard to the channel's next note, rest or end; each
// channel's loop mark ($) and its jumps back to it as lines; each pass of a
// /: :/ loop as a bracket over its span with its number, every other pass
// shaded; the playhead at the frame heard, and the notes under it lit. Only
// what the window shows is drawn, found by binary search, so a song of
// thousands of notes draws as fast as a short one.
import { SAMPLE_RATE, EVENT, EVENT_SIZE, AT, REPEAT_SIZE, PASS } from './core.js';
import { bracketPasses } from './bracket_passes.js';

// Seconds of song across the roll: each zoom step halves or doubles them.
const ZOOM_SECONDS = [0.75, 1.5, 3, 6, 12, 24, 48];
const FIRST_ZOOM = 3;
const HEAD_AT = 0.3; // the playhead's place from the left, once the song has run that far
const COLOURS = ['#1a5fb4', '#c01c28', '#26a269', '#a347ba', '#e5a50a', '#0e7c86', '#b5450b', '#5e5c64'];

// Per channel: the notes' starts, ends, pitches and places in the source
// (line and row, 0 when unknown; in order), its jumps.
export function notesOf(survey, channels) {
  const end = survey.endFrame >= 0 ? survey.endFrame : Infinity;
  const lanes = Array.from({ length: channels }, () => ({ starts: [], ends: [], notes: [], lines: [], rows: [], jumps: [], marks: [], low: Infinity, high: -Infinity }));
  const open = new Array(channels).fill(-1);
  const e = survey.events;
  let last = 0;
  for (let i = 0; i + EVENT_SIZE <= e.length; i += EVENT_SIZE) {
    const [kind, channel, frame, note] = [e[i + AT.KIND], e[i + AT.CHANNEL], e[i + AT.FRAME], e[i + AT.NOTE]];
    if (channel < 0 || channel >= channels || frame >= end) continue;
    const lane = lanes[channel];
    last = Math.max(last, frame);
    if (kind === EVENT.NOTE || kind === EVENT.REST || kind === EVENT.END) {
      if (open[channel] >= 0) lane.ends[open[channel]] = frame;
      open[channel] = -1;
    }
    if (kind === EVENT.NOTE) {
      open[channel] = lane.starts.length;
      lane.starts.push(frame);
      lane.ends.push(frame);
      lane.notes.push(note);
      lane.lines.push(e[i + AT.LINE]);
      lane.rows.push(e[i + AT.ROW]);
      lane.low = Math.min(lane.low, note);
      lane.high = Math.max(lane.high, note);
    } else if (kind === EVENT.JUMP) {
      lane.jumps.push(frame);
    } else if (kind === EVENT.LOOP_MARK && lane.marks.length === 0) {
      lane.marks.push(frame);
    }
  }
  const stop = Number.isFinite(end) ? end : last;
  lanes.forEach((lane, channel) => {
    if (open[channel] >= 0) lane.ends[open[channel]] = Math.max(stop, lane.starts[open[channel]]);
  });
  return lanes;
}

// Per channel, per depth of nesting: the passes (laid out as the survey's
// repeats) before the song's end, in the order they play ({from, to, pass,
// count}); passes of one depth never overlap.
export function passesOf(r, channels, end) {
  const lanes = Array.from({ length: channels }, () => []);
  for (let i = 0; i + REPEAT_SIZE <= r.length; i += REPEAT_SIZE) {
    const [channel, depth] = [r[i + PASS.CHANNEL], r[i + PASS.DEPTH]];
    if (channel < 0 || channel >= channels || depth < 0 || r[i + PASS.FROM] >= end) continue;
    const depths = lanes[channel];
    while (depths.length <= depth) depths.push({ from: [], to: [], pass: [], count: [] });
    const list = depths[depth];
    list.from.push(r[i + PASS.FROM]);
    list.to.push(Math.min(end, r[i + PASS.TO]));
    list.pass.push(r[i + PASS.PASS]);
    list.count.push(r[i + PASS.COUNT]);
  }
  return lanes;
}

// The first index whose value is above `frame` in an ascending list.
function firstAbove(list, frame) {
  let low = 0;
  let high = list.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (list[mid] > frame) high = mid;
    else low = mid + 1;
  }
  return low;
}

export function createRoll(canvas, box) {
  const context = canvas.getContext('2d');
  let survey = null;
  let lanes = [];
  let loops = [];
  let muted = () => false;
  let scale = 1;
  // A channel's notes in view, a bar each at its pitch within the lane.
  function drawNotes(lane, channel, top, { x0, x1, px, frame }, offset, skip) {
    const h = roll.laneHeight;
    const range = Math.max(1, lane.high - lane.low + 1);
    const bar = Math.round(Math.max(2, Math.min(6, (h - 4) / range + 1)));
    const colour = muted(channel) ? '#bbb' : COLOURS[channel % COLOURS.length];
    // (A colour set is parsed anew: it is set once for the lane, not per bar.)
    context.fillStyle = colour;
    const from = Math.max(0, firstAbove(lane.ends, x0 - offset) - 1);
    for (let i = from; i < lane.starts.length && lane.starts[i] + offset < x1; i++) {
      if (lane.starts[i] < skip) continue;
      const start = lane.starts[i] + offset;
      const end = lane.ends[i] + offset;
      if (end <= x0) continue;
      // Whole pixels: a rectangle off the pixel grid costs its edges' blending.
      const y = Math.round(top + 2 + ((lane.high - lane.notes[i]) / range) * (h - 4 - bar));
      const x = Math.round((start - x0) * px);
      const width = Math.max(1, Math.round((end - x0) * px) - x - 1);
      if (frame >= start && frame < end) {
        context.fillStyle = '#000';
        context.fillRect(x, y, width, bar + 1);
        context.fillStyle = colour;
      } else {
        context.fillRect(x, y, width, bar);
      }
      roll.drawn++;
    }
  }

  // Where the channel's loop mark is ($, a blue line) and where it jumps back
  // to it (a brown one).
  function drawMarks(lane, channel, top, { x0, px, width }, offset) {
    const h = roll.laneHeight;
    context.fillStyle = '#8a6d00';
    for (const jump of lane.jumps) {
      const x = (jump + offset - x0) * px;
      if (x >= 0 && x <= width) context.fillRect(x, top, 1, h);
    }
    context.fillStyle = '#36a';
    for (const mark of lane.marks) {
      const x = (mark + offset - x0) * px;
      if (x < -8 || x > width) continue;
      context.fillRect(x - 1, top, 2, h);
      context.fillText('$', x + 2, top + h - 10);
      roll.drawnMarks.push({ channel, frame: mark + offset });
    }
  }

  // The passes' numbers, written over the notes once they are drawn.
  const labels = [];
  function drawLabels() {
    for (const { label, x, y } of labels) {
      context.fillStyle = 'rgba(255, 255, 255, 0.8)';
      context.fillRect(x - 1, y - 1, context.measureText(label).width + 2, 10);
      context.fillStyle = '#8a6d00';
      context.fillText(label, x, y);
    }
    labels.length = 0;
  }

  // Each pass of the channel's loops in view: a bracket along the lane's top
  // (lower for a loop inside another; along its foot for a [ ] repeat) with
  // the pass's number, every other pass of an outermost loop shaded.
  function drawLoops(channel, top, { x0, x1, px }, offset, skip) {
    const h = roll.laneHeight;
    loops[channel]?.forEach((list, depth) => {
      const y = list.bracket ? top + h - 5 : top + 1 + 3 * depth;
      for (let i = firstAbove(list.to, x0 - offset); i < list.from.length && list.from[i] + offset < x1; i++) {
        if (list.from[i] < skip) continue;
        const left = (list.from[i] + offset - x0) * px;
        const right = (list.to[i] + offset - x0) * px;
        if (depth === 0 && !list.bracket && list.pass[i] % 2 === 0) {
          context.fillStyle = 'rgba(138, 109, 0, 0.10)';
          context.fillRect(left, top, right - left, h);
        }
        context.fillStyle = '#8a6d00';
        const line = list.bracket ? y + 3 : y; // a foot bracket's ticks point up
        context.fillRect(left + 1, line, Math.max(1, right - left - 2), 1);
        if (right - left >= 8) {
          context.fillRect(left + 1, y, 1, 4);
          context.fillRect(right - 2, y, 1, 4);
        }
        // An outer loop's number at its pass's start, an inner one's at its end.
        const label = list.bracket ? `[${list.pass[i]}/${list.count[i]}]` : `${list.pass[i]}/${list.count[i]}`;
        const room = right - left - 6 * label.length;
        if (room > 0 && (list.bracket || depth < 2)) {
          labels.push({ label, x: depth === 0 ? left + 3 : right - 3 - 5 * label.length, y: list.bracket ? y - 8 : y + 2 });
        }
        roll.drawnPasses.push({ channel, pass: list.pass[i], count: list.count[i], from: list.from[i] + offset, bracket: !!list.bracket });
      }
    });
  }

  const roll = {
    laneHeight: 24,
    zoom: FIRST_ZOOM,
    seconds: () => ZOOM_SECONDS[roll.zoom],
    // steps > 0 show less of the song, wider.
    zoomed: (steps) => Math.min(ZOOM_SECONDS.length - 1, Math.max(0, roll.zoom - steps)),
    canZoom: (steps) => roll.zoomed(steps) !== roll.zoom,
    zoomBy(steps) {
      roll.zoom = roll.zoomed(steps);
    },
    drawn: 0, // bars drawn by the last draw
    drawnPasses: [], // the passes the last draw bracketed: {channel, pass, count, from}
    drawnMarks: [], // the loop marks it drew: {channel, frame}
    // brackets: the source's [ ] repeats (bracketsOf), when the survey placed its notes in it.
    setSong(surveyed, channels, brackets = []) {
      survey = surveyed;
      lanes = notesOf(surveyed, channels);
      const end = surveyed.endFrame >= 0 ? surveyed.endFrame : Infinity;
      loops = passesOf(surveyed.repeats ?? [], channels, end);
      passesOf(bracketPasses(surveyed, channels, brackets), channels, end).forEach(([copies], channel) => {
        if (copies) loops[channel].push({ ...copies, bracket: true });
      });
      roll.resize();
    },
    setMuted(test) {
      muted = test;
    },
    resize() {
      const count = Math.max(1, lanes.length);
      roll.laneHeight = Math.max(14, Math.min(40, Math.floor((box.clientHeight - 2) / count)));
      scale = window.devicePixelRatio || 1;
      const width = Math.max(1, canvas.clientWidth);
      const height = roll.laneHeight * count;
      canvas.style.height = `${height}px`;
      canvas.width = Math.round(width * scale);
      canvas.height = Math.round(height * scale);
    },
    noteCount: () => lanes.reduce((sum, lane) => sum + lane.starts.length, 0),
    passCount: () => loops.reduce((sum, depths) => sum + depths.reduce((n, list) => n + list.from.length, 0), 0),
    // The note each channel sounds at the frame, with its place in the
    // source (null for none): what is lit.
    litAt(frame) {
      return lanes.map((lane) => {
        const i = firstAbove(lane.starts, frame) - 1;
        return i >= 0 && frame < lane.ends[i] ? { note: lane.notes[i], start: lane.starts[i], line: lane.lines[i], row: lane.rows[i] } : null;
      });
    },
    draw(frame) {
      const width = canvas.width / scale;
      const height = canvas.height / scale;
      context.setTransform(scale, 0, 0, scale, 0, 0);
      context.clearRect(0, 0, width, height);
      roll.drawn = 0;
      roll.drawnPasses = [];
      roll.drawnMarks = [];
      if (!survey || lanes.length === 0 || width < 2) return;
      const span = roll.seconds() * SAMPLE_RATE;
      const x0 = Math.max(0, frame - HEAD_AT * span);
      const view = { x0, x1: x0 + span, px: width / span, width, frame };
      const looping = !survey.finished && survey.introFrame >= 0 && survey.loopFrames > 0;
      // The loop drawn again after its end, as it is heard.
      const passes = looping ? [0, survey.loopFrames] : [0];
      context.font = '9px sans-serif';
      context.textBaseline = 'top';
      lanes.forEach((lane, channel) => {
        const top = channel * roll.laneHeight;
        if (channel % 2) {
          context.fillStyle = '#f0f0f5';
          context.fillRect(0, top, width, roll.laneHeight);
        }
        for (const offset of passes) {
          const skip = offset > 0 ? survey.introFrame : -1; // the intro is not heard again
          drawLoops(channel, top, view, offset, skip);
          drawNotes(lane, channel, top, view, offset, skip);
          drawMarks(lane, channel, top, view, offset);
        }
      });
      drawLabels();
      context.fillStyle = '#c22';
      context.fillRect((frame - x0) * view.px - 1, 0, 2, height);
    },
  };
  return roll;
}
