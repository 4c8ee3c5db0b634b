// The playground page: an editor that compiles as you type (in a worker), a
// transport that plays through an audio worklet with a seek bar, the song's
// notes drawn as it plays, downloads and a link that carries the song. The
// page thread never compiles or renders sound itself.
import { SAMPLE_RATE, EVENT_SIZE, AT, channelLetter } from './core.js';
import { decodeSong, encodeSong, MAX_SOURCE_BYTES } from './share.js';
import { createEditor } from './editor.js';
import { createRoll } from './roll.js';
import { bracketsOf } from './bracket_passes.js';

const COMPILE_DELAY_MS = 150;
const COMPILE_TIMEOUT_MS = 10000;
const RENDER_TIMEOUT_MS = 120000;
const SURVEY_DELAY_MS = 400;
const SURVEY_TIMEOUT_MS = 30000;
// The most a song file may hold, as in the programs: a larger file is refused
// before it is read, a larger paste before it reaches the editor.
const MAX_FILE_BYTES = 64 * 1024 * 1024;
// Where the page keeps the song being edited, so a reload loses nothing.
const STORE_KEY = 'qvbp-playground-song';

const $ = (id) => document.getElementById(id);

function showStatus(text) {
  $('status').textContent = text;
}

// The compile worker behind a promise per request. A request that takes too
// long ends the worker (and with it whatever runs there); the next request
// gets a fresh one.
class CoreWorker {
  constructor(wasm) {
    this.wasm = wasm;
    this.nextId = 1;
    this.pending = new Map();
    this.worker = null;
  }

  start() {
    this.worker = new Worker('compile_worker.js', { type: 'module' });
    this.worker.onmessage = (event) => this.answer(event.data);
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.restart('the compile worker failed');
    };
    this.send('init', { wasm: this.wasm.slice(0) }, COMPILE_TIMEOUT_MS);
  }

  restart(reason) {
    if (this.worker) this.worker.terminate();
    this.worker = null;
    for (const { resolve, timer } of this.pending.values()) {
      clearTimeout(timer);
      resolve({ ok: false, message: reason });
    }
    this.pending.clear();
  }

  answer(data) {
    const waiting = this.pending.get(data.id);
    if (!waiting) return;
    clearTimeout(waiting.timer);
    this.pending.delete(data.id);
    waiting.resolve(data);
    if (data.broken) this.restart('the compile worker failed');
  }

  send(kind, data, timeoutMs, transfer = []) {
    const id = this.nextId++;
    return new Promise((resolve) => {
      const timer = setTimeout(() => this.restart(`the ${kind} took longer than ${timeoutMs / 1000} s and was stopped`), timeoutMs);
      this.pending.set(id, { resolve, timer });
      this.worker.postMessage({ id, kind, ...data }, transfer);
    });
  }

  request(kind, data, timeoutMs) {
    if (!this.worker) this.start();
    return this.send(kind, data, timeoutMs);
  }
}

// ---- names ----------------------------------------------------------------

// A song's file name: the file it came from, or else its title (a new song,
// or one typed or pasted over the file's text), or "untitled".
function nameFromTitle(text) {
  const title = /#TITLE\s*<((?:\\.|[^>\\\n])*)/.exec(text)?.[1] ?? '';
  const slug = title.replace(/\\(.)/g, '$1').toLowerCase().normalize('NFKD').replace(/[^a-z0-9]+/g, '-')
    .replace(/^-+|-+$/g, '').slice(0, 48);
  return `${slug || 'untitled'}.qvm`;
}

function currentName() {
  return state.nameFollowsTitle ? nameFromTitle(editor.text()) : state.fileName;
}

function baseName() {
  return currentName().replace(/\.[^.]*$/, '') || 'untitled';
}

// ---- compiling ------------------------------------------------------------

const state = {
  fileName: 'untitled.qvm',
  nameFollowsTitle: true,
  compiled: null, // the last good compile: {image, channels, asmText, gb, gbs, gameBoyRefusal, source, version}
  surveyed: null, // what the roll and the seek bar show: the survey of `compiled`
  lastResult: null,
  compiling: false,
  again: false,
  image: false, // an opened image plays; the editor shows no source
};
let core;
let surveyor; // a second worker, so that a long survey never holds up a compile
let editor;
let roll;
let compileTimer = 0;
let surveyTimer = 0;
let compileWaiters = [];
let surveyWaiters = [];

function scheduleCompile() {
  clearTimeout(compileTimer);
  compileTimer = setTimeout(() => guarded(compileNow), COMPILE_DELAY_MS);
}

async function compileNow() {
  clearTimeout(compileTimer);
  if (state.compiling) {
    state.again = true;
    return;
  }
  state.compiling = true;
  const started = performance.now();
  const source = new TextEncoder().encode(editor.text());
  const version = editor.version();
  const fileName = currentName();
  const result = await core.request('compile', { source, fileName }, COMPILE_TIMEOUT_MS);
  result.roundTripMs = performance.now() - started;
  // The text it was made of: the survey places the notes in it.
  result.source = source;
  result.version = version;
  state.compiling = false;
  if (state.again) {
    state.again = false;
    compileNow();
    return;
  }
  showCompile(result);
  const waiters = compileWaiters;
  compileWaiters = [];
  waiters.forEach((resolve) => resolve(result));
}

function showCompile(result) {
  state.lastResult = result;
  const warnings = (result.warnings || []).map((w) => ({ kind: 'warning', text: w.text, line: w.line, row: w.row }));
  if (result.ok) {
    state.compiled = result;
    // A song playing, paused or stopped at a place takes the edit in place.
    if (audio.playing || audio.paused || audio.cued) audio.node.port.postMessage({ type: 'replace', image: result.image.slice() });
    showMessages([{ kind: 'ok', text: `compiled: ${result.image.length} bytes, ${result.channels} channels` }, ...warnings]);
    $('figures').textContent = `compiled in ${result.compileMs.toFixed(1)} ms (${result.roundTripMs.toFixed(1)} ms with the worker)`;
    scheduleSurvey(state.fresh ? 0 : SURVEY_DELAY_MS);
  }
  const errors = result.ok ? [] : [result, ...(result.later || [])];
  if (!result.ok) {
    showMessages([...errors.map(({ message, line, row }) => ({ kind: 'error', text: message, line, row })), ...warnings]);
  }
  if (!state.image) {
    const items = errors.map(({ message, line, row }) => ({ severity: 'error', message, line, row }));
    for (const w of warnings) items.push({ severity: 'warning', message: w.text, line: w.line, row: w.row });
    editor.showDiagnostics(items);
  }
  state.fresh = false;
  for (const id of ['play', 'qvb', 'wav']) $(id).disabled = !state.compiled;
  $('asm').disabled = !state.compiled?.asmText;
  for (const id of ['gb', 'gbs']) {
    $(id).disabled = !state.compiled?.[id];
    $(id).title = state.compiled?.gameBoyRefusal ?? 'plays on a Game Boy';
  }
  showStatus(result.ok ? 'ready' : state.compiled ? 'does not compile: the last good version plays' : 'does not compile');
}

function showMessages(items) {
  const list = $('messages');
  list.replaceChildren();
  for (const { kind, text, line, row } of items) {
    const item = document.createElement('li');
    item.className = kind;
    item.textContent = text;
    if (line > 0 && !state.image) item.onclick = () => editor.goTo(line, row);
    list.append(item);
  }
}

// A new text in the editor (a song picked, opened or brought by a link);
// resolves with the result of its compile.
function compileText(text, fileName) {
  state.image = false;
  setSection(); // a section belongs to the song it was marked in
  state.fresh = true;
  editor.setText(text);
  $('examples').value = '';
  state.fileName = fileName || 'untitled.qvm';
  state.nameFollowsTitle = !fileName;
  store();
  const done = new Promise((resolve) => compileWaiters.push(resolve));
  compileNow();
  return done;
}

// The editor changed by hand (kept: the characters still those of the text
// as opened): once at least half of it is new, typed or pasted, it is a new
// song, named after its title.
function edited(text, kept) {
  if (new TextEncoder().encode(text).length > MAX_SOURCE_BYTES) {
    showStatus(`a song larger than ${MAX_SOURCE_BYTES} bytes is not compiled here`);
    return;
  }
  if (text.length > 0 && kept <= text.length / 2) state.nameFollowsTitle = true;
  $('examples').value = '';
  store();
  scheduleCompile();
}

let storeTimer = 0;
function store() {
  clearTimeout(storeTimer);
  storeTimer = setTimeout(() => {
    if (state.image) return;
    try {
      localStorage.setItem(STORE_KEY, JSON.stringify({ text: editor.text(), fileName: state.fileName, nameFollowsTitle: state.nameFollowsTitle }));
    } catch {
      showStatus('the browser keeps no copy of this song (its storage is full or off)');
    }
  }, 300);
}

function stored() {
  try {
    const song = JSON.parse(localStorage.getItem(STORE_KEY) || 'null');
    return song && typeof song.text === 'string' ? song : null;
  } catch {
    return null;
  }
}

// ---- the song's figures and notes ---------------------------------------

// While typing the survey waits for a pause; a song just opened is surveyed at once.
function scheduleSurvey(delay = SURVEY_DELAY_MS) {
  clearTimeout(surveyTimer);
  surveyTimer = setTimeout(() => guarded(surveyNow), delay);
}

async function surveyNow() {
  const compiled = state.compiled;
  if (!compiled) return;
  const request = { image: compiled.image.slice(), source: state.image ? null : compiled.source, loops: 1 };
  const result = await surveyor.request('survey', request, SURVEY_TIMEOUT_MS);
  if (compiled !== state.compiled) return; // a newer compile surveys again
  if (!result.ok) {
    $('songFigures').textContent = `no figures: ${result.message}`;
    return;
  }
  state.surveyed = result;
  state.surveyedFor = compiled;
  roll.setSong(result, compiled.channels, state.image ? [] : bracketsOf(new TextDecoder().decode(compiled.source)));
  showLanes(compiled.channels);
  showFigures(result);
  const waiters = surveyWaiters;
  surveyWaiters = [];
  waiters.forEach((waiter) => waiter());
}

// The figures qvbrender reports: the length (to the first time every looping
// channel is back at its mark), the intro and the loop.
function showFigures(s) {
  const length = s.endFrame >= 0 ? s.endFrame : -1;
  $('length').textContent = length >= 0 ? formatTime(length) : 'no end within 10 minutes';
  const parts = [length >= 0 ? `length ${formatTime(length)}${s.finished ? '' : ', 1 loop'}` : 'length: not reached'];
  if (s.introFrame >= 0) parts.push(`intro ${formatTime(s.introFrame)}`);
  if (s.loopFrames >= 0) parts.push(`loop ${formatTime(s.loopFrames)}`);
  else if (s.introFrame >= 0) parts.push('loop differs between channels');
  $('songFigures').textContent = parts.join(' · ');
  const span = seekSpan();
  $('seekIntro').style.width = s.introFrame >= 0 && span > 0 ? `${(100 * s.introFrame) / span}%` : '0';
  $('seekLoop').style.display = s.introFrame >= 0 && span > 0 ? 'block' : 'none';
  $('seekLoop').style.left = span > 0 ? `${(100 * Math.max(0, s.introFrame)) / span}%` : '0';
  $('seek').setAttribute('aria-valuemax', String(span));
  showSection();
}

// The frames the seek bar spans: the song up to its end, or its first loop.
function seekSpan() {
  const s = state.surveyed;
  if (!s) return 0;
  return s.endFrame > 0 ? s.endFrame : Math.max(1, s.events.length ? s.events[s.events.length - EVENT_SIZE + AT.FRAME] : 1);
}

// A heard frame placed in what the survey covers: a looping song's later
// passes are its loop again; a song that ends stays at its end.
function songPlace(frame) {
  const s = state.surveyed;
  if (!s || s.endFrame < 0 || frame < s.endFrame) return frame;
  if (s.finished) return s.endFrame;
  if (s.introFrame < 0 || s.loopFrames <= 0) return frame;
  return s.introFrame + ((frame - s.introFrame) % s.loopFrames);
}

// The frame `frames` on (or back) from a heard frame as the song plays on: a
// looping song goes round its loop (a later pass folded to the second, which
// sounds the same), a song that ends stops at its end.
function stepFrom(frame, frames) {
  const to = Math.max(0, frame + frames);
  const s = state.surveyed;
  if (s && !s.finished && s.introFrame >= 0 && s.loopFrames > 0) return to < s.endFrame ? to : songPlace(to) + s.loopFrames;
  return Math.min(seekSpan(), to);
}

// ---- playing --------------------------------------------------------------

// cued: stopped at a place a seek chose, where Play starts.
const audio = { context: null, node: null, reports: [], playing: false, paused: false, cued: false, muted: new Set(), solo: -1, replacedAt: -1, seekedAt: -1 };
let wasmBytes;

async function ensureAudio() {
  if (audio.context) return;
  const context = new AudioContext({ sampleRate: SAMPLE_RATE });
  if (!context.audioWorklet) {
    await context.close();
    throw new Error('the browser offers audio worklets only on https pages and on localhost');
  }
  await context.audioWorklet.addModule('player_worklet.js');
  const node = new AudioWorkletNode(context, 'qvb-player', {
    numberOfInputs: 0,
    outputChannelCount: [2],
    processorOptions: { wasm: wasmBytes.slice(0) },
  });
  node.connect(context.destination);
  node.port.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'clock') {
      audio.reports.push(message);
      if (audio.reports.length > 64) audio.reports.shift();
    } else if (message.type === 'replaced') {
      audio.replacedAt = message.songFrame;
    } else if (message.type === 'seeked') {
      audio.seekedAt = message.songFrame;
    } else if (message.type === 'captured') {
      audio.captured?.(message.blocks);
      audio.captured = null;
    } else if (message.type === 'error') {
      showStatus(`playback stopped: ${message.message}`);
      setPlaying(false, false);
    }
  };
  audio.context = context;
  audio.node = node;
  for (const channel of audio.muted) node.port.postMessage({ type: 'mute', channel, muted: true });
  sendSection();
}

// What the listener hears now: the newest report at or before the context
// frame being output, moved on by the frames since when the song was running.
function heardPosition() {
  const { context, reports } = audio;
  if (!context || reports.length === 0) return { frame: 0, loops: 0, finishedAt: -1, levels: [] };
  const stamp = context.getOutputTimestamp ? context.getOutputTimestamp().contextTime : undefined;
  const now = (stamp ?? context.currentTime - (context.outputLatency || 0)) * context.sampleRate;
  let report = reports[0];
  for (const r of reports) if (r.contextFrame <= now) report = r;
  const later = report.playing ? Math.max(0, now - report.contextFrame) : 0;
  return { frame: report.songFrame + Math.min(later, REPORT_SPAN), loops: report.loops, finishedAt: report.finishedAt, levels: report.levels || [] };
}
const REPORT_SPAN = 4096; // never run ahead of reports further than two report periods

function formatTime(frame) {
  const ms = Math.floor((frame * 1000) / SAMPLE_RATE);
  const minutes = Math.floor(ms / 60000);
  const seconds = ((ms % 60000) / 1000).toFixed(3).padStart(6, '0');
  return `${minutes}:${seconds}`;
}

const drawing = { frames: 0, since: performance.now(), fps: 0 };

function showPosition() {
  const heard = heardPosition();
  const place = songPlace(heard.frame);
  $('position').textContent = formatTime(place);
  $('loops').textContent = String(heard.loops);
  const span = seekSpan();
  $('seekHead').style.left = span > 0 ? `calc(${Math.min(100, (100 * place) / span)}% - 1px)` : '0';
  roll.draw(place);
  showLit(place);
  showLevels(heard.levels);
  const loopLimit = parseInt($('playLoops').value, 10);
  const looped = loopLimit > 0 && heard.loops >= loopLimit;
  if (audio.playing && (looped || (heard.finishedAt >= 0 && heard.frame >= heard.finishedAt))) stop();
  drawing.frames++;
  const now = performance.now();
  if (now - drawing.since >= 1000) {
    drawing.fps = (drawing.frames * 1000) / (now - drawing.since);
    drawing.frames = 0;
    drawing.since = now;
  }
  requestAnimationFrame(showPosition);
}

// The note each channel sounds lit in the editor, while a song plays or
// waits paused, and only when the survey was made of the text shown.
const lit = { frame: -1 };
function showLit(place) {
  const s = state.surveyedFor;
  const on = (audio.playing || audio.paused) && !state.image && s && s === state.compiled && s.version === editor.version();
  editor.light(on ? roll.litAt(place).filter((n) => n && n.line > 0) : []);
  lit.frame = on ? place : -1;
}

function setPlaying(playing, paused) {
  audio.playing = playing;
  audio.paused = paused;
  audio.cued = false;
  $('play').textContent = playing ? 'Pause' : paused ? 'Resume' : 'Play';
  $('stop').disabled = !playing && !paused;
}

async function playOrPause() {
  await ensureAudio();
  await audio.context.resume();
  if (audio.playing) {
    audio.node.port.postMessage({ type: 'pause' });
    setPlaying(false, true);
  } else if (audio.paused || audio.cued) {
    audio.node.port.postMessage({ type: 'resume' });
    setPlaying(true, false);
  } else if (state.compiled) {
    audio.reports = [];
    audio.node.port.postMessage({ type: 'start', image: state.compiled.image.slice() });
    setPlaying(true, false);
  }
}

function stop() {
  if (audio.node) audio.node.port.postMessage({ type: 'stop' });
  audio.reports = [];
  setPlaying(false, false);
}

// Goes to the frame (exact: a fresh player runs silently up to it). A song
// playing plays on from there, a paused one stays paused, a stopped one stays
// stopped there until Play.
async function seek(frame) {
  if (!state.compiled) return;
  await ensureAudio();
  await audio.context.resume();
  audio.seekedAt = -1;
  audio.node.port.postMessage({ type: 'seek', image: state.compiled.image.slice(), frame: Math.max(0, Math.round(frame)), play: false });
  if (!audio.playing && !audio.paused) audio.cued = true;
}

// ---- A-B: a section played again and again ----------------------------------

const section = { from: -1, to: -1 };

// Sets the section's start or end (frames of the song as played from its
// start), or clears it with no arguments.
function setSection(from = -1, to = -1) {
  section.from = from;
  section.to = to;
  sendSection();
  showSection();
}

function markSection(end) {
  const frame = Math.round(heardPosition().frame);
  if (end === 'from') setSection(frame, section.to > frame ? section.to : -1);
  else setSection(section.from >= 0 && section.from < frame ? section.from : 0, frame);
}

function sendSection() {
  if (!audio.node) return;
  const on = section.from >= 0 && section.to > section.from && state.compiled;
  audio.node.port.postMessage(on ? { type: 'section', image: state.compiled.image.slice(), from: section.from, to: section.to } : { type: 'section', image: null });
}

function showSection() {
  const on = section.from >= 0 && section.to > section.from;
  $('clearSection').disabled = section.from < 0 && section.to < 0;
  const span = seekSpan();
  const box = $('seekSection');
  box.style.display = section.from >= 0 && span > 0 ? 'block' : 'none';
  const from = songPlace(Math.max(0, section.from));
  const to = on ? songPlace(section.to) : from;
  box.style.left = `${(100 * Math.min(from, span)) / Math.max(1, span)}%`;
  box.style.width = on && to > from ? `${(100 * (to - from)) / Math.max(1, span)}%` : '2px';
  box.title = on ? `A–B ${formatTime(section.from)}–${formatTime(section.to)}` : '';
}

function seekClick(event) {
  const box = $('seek').getBoundingClientRect();
  const fraction = Math.min(1, Math.max(0, (event.clientX - box.left) / box.width));
  return seek(fraction * seekSpan());
}

// ---- the roll's zoom ------------------------------------------------------

function zoom(steps) {
  roll.zoomBy(steps);
  showZoom();
}

function showZoom() {
  $('zoomSpan').textContent = `${roll.seconds()} s`;
  $('zoomIn').disabled = !roll.canZoom(1);
  $('zoomOut').disabled = !roll.canZoom(-1);
}

// ---- channels: mute and solo from the roll --------------------------------

function applyMutes(count) {
  for (let i = 0; i < count; i++) {
    const muted = audio.solo >= 0 ? i !== audio.solo : audio.muted.has(i);
    audio.node?.port.postMessage({ type: 'mute', channel: i, muted });
  }
  roll.setMuted((i) => (audio.solo >= 0 ? i !== audio.solo : audio.muted.has(i)));
  showLanes(count, true);
}

// Each channel's meter: its level as heard now (the louder side).
function showLevels(levels) {
  const meters = $('lanes').querySelectorAll('.meter > span');
  meters.forEach((meter, i) => {
    const level = Math.max(levels[2 * i] || 0, levels[2 * i + 1] || 0);
    const width = `${Math.min(100, (100 * level) / 240).toFixed(0)}%`;
    if (meter.style.width !== width) meter.style.width = width;
  });
}

function showLanes(count, force = false) {
  const box = $('lanes');
  if (!force && box.childElementCount === count && box.dataset.height === String(roll.laneHeight)) return;
  box.dataset.height = String(roll.laneHeight);
  box.replaceChildren();
  for (let i = 0; i < count; i++) {
    const lane = document.createElement('div');
    lane.style.height = `${roll.laneHeight}px`;
    const mute = document.createElement('button');
    mute.type = 'button';
    mute.textContent = 'M';
    mute.title = `mute channel ${channelLetter(i)}`;
    mute.setAttribute('aria-pressed', String(audio.muted.has(i)));
    mute.onclick = () => {
      if (audio.muted.has(i)) audio.muted.delete(i);
      else audio.muted.add(i);
      applyMutes(count);
    };
    const solo = document.createElement('button');
    solo.type = 'button';
    solo.textContent = 'S';
    solo.title = `hear channel ${channelLetter(i)} alone`;
    solo.setAttribute('aria-pressed', String(audio.solo === i));
    solo.onclick = () => {
      audio.solo = audio.solo === i ? -1 : i;
      applyMutes(count);
    };
    const meter = document.createElement('span');
    meter.className = 'meter';
    meter.title = `level of channel ${channelLetter(i)}`;
    meter.append(document.createElement('span'));
    lane.append(channelLetter(i), mute, solo, meter);
    box.append(lane);
  }
}

// ---- downloads ------------------------------------------------------------

function download(bytes, name, type) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], { type }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  lastDownload = name;
}
let lastDownload = null;

// The WAV the renderer would write: an exact length in seconds, or up to the
// song's end after the given loops.
async function renderWav({ seconds = NaN, loops = 2 } = {}) {
  const lengthFrames = Number.isFinite(seconds) && seconds >= 0 ? Math.round(seconds * SAMPLE_RATE) : -1;
  const image = state.compiled.image.slice();
  const result = await core.request('render', { image, lengthFrames, loops, fadeFrames: 0 }, RENDER_TIMEOUT_MS);
  if (result.ok) $('figures').textContent = `render ${(result.renderMs / 1000).toFixed(2)} s`;
  return result;
}

async function downloadWav() {
  const seconds = parseFloat($('seconds').value);
  const loops = Math.min(255, Math.max(1, parseInt($('wavLoops').value, 10) || 2));
  showStatus('rendering…');
  const result = await renderWav({ seconds, loops });
  if (!result.ok) return showStatus(`no WAV: ${result.message}`);
  showStatus('ready');
  download(result.wav, `${baseName()}.wav`, 'audio/wav');
}

// ---- sharing and songs ----------------------------------------------------

async function shareLink() {
  if (state.image) return showStatus('only a source travels in a link, not a compiled image');
  const fragment = await encodeSong(new TextEncoder().encode(editor.text()), currentName());
  history.replaceState(null, '', `#${fragment}`);
  try {
    await navigator.clipboard.writeText(location.href);
    showStatus('link copied');
  } catch {
    showStatus('the link is in the address bar');
  }
}

async function songFromLink() {
  try {
    const song = await decodeSong(location.hash);
    if (!song) return false;
    await compileText(new TextDecoder().decode(song.source), song.fileName);
    return true;
  } catch (error) {
    showMessages([{ kind: 'error', text: error.message }]);
    showStatus('the link carries no song');
    return true;
  }
}

const QVB_MAGIC = new TextEncoder().encode('QuaverMachine\0');

function isImage(bytes) {
  return bytes.length >= QVB_MAGIC.length && QVB_MAGIC.every((b, i) => bytes[i] === b);
}

// A file from disk: a source goes into the editor; an image plays and exports
// as it is, with the editor locked until a song is picked or opened; bytes
// that are neither are refused, and the editor keeps what it holds.
async function openFile(file) {
  if (file.size > MAX_FILE_BYTES) {
    showStatus(`${file.name} is not opened: a song file holds at most 64 MiB`);
    return { ok: false, refused: true };
  }
  const bytes = new Uint8Array(await file.arrayBuffer());
  let text = null;
  try {
    text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    // not UTF-8: an image, or something else
  }
  if (!isImage(bytes)) {
    if (text !== null && !text.includes('\0')) return compileText(text, file.name);
    const why = `${file.name} is not opened: it is neither a QVB image nor song text`;
    showStatus(why);
    showMessages([{ kind: 'error', text: why }]);
    return { ok: false, refused: true, message: why };
  }
  const started = performance.now();
  const result = await core.request('compile', { source: bytes, fileName: file.name }, COMPILE_TIMEOUT_MS);
  result.roundTripMs = performance.now() - started;
  state.image = true;
  state.fresh = true;
  setSection();
  state.fileName = file.name;
  state.nameFollowsTitle = false;
  editor.setText(`${file.name}: a compiled QVB image of ${bytes.length} bytes; it plays and exports as it is.\nPick or open a song to edit one.`, true);
  editor.showDiagnostics([]);
  $('examples').value = '';
  showCompile(result);
  return result;
}

async function openExample(name) {
  const response = await fetch(`examples/${encodeURIComponent(name)}`);
  if (!response.ok) return showStatus(`cannot open ${name}`);
  const result = compileText(await response.text(), name);
  $('examples').value = name;
  return result;
}

// Every control's action: a failure becomes a line in the status, never an
// unhandled rejection.
async function guarded(action) {
  try {
    await action();
  } catch (error) {
    showStatus(`that did not work: ${error.message}`);
  }
}

async function start() {
  const [wasm, examples] = await Promise.all([
    fetch('qvb_core.wasm').then((r) => r.arrayBuffer()),
    fetch('examples/index.json').then((r) => r.json()),
  ]);
  wasmBytes = wasm;
  core = new CoreWorker(wasm);
  surveyor = new CoreWorker(wasm);
  for (const name of examples) $('examples').append(new Option(name, name));
  const keys = [
    { key: 'Mod-Enter', run: () => guarded(compileNow) },
    { key: 'Mod-Shift-Enter', run: () => guarded(playOrPause) },
    { key: 'Mod-.', run: stop },
  ];
  // Long lines wrap in the narrow layout (style.css), so the text fits the screen.
  editor = createEditor($('editor'), { onChange: edited, keys, wrapWhen: window.matchMedia('(max-width: 760px)') });
  editor.view.contentDOM.addEventListener('paste', (event) => {
    const length = event.clipboardData?.getData('text/plain').length ?? 0;
    // The text as the paste would leave it: each selection replaced by the
    // paste. Each character is at least one byte of the source.
    const { doc, selection } = editor.view.state;
    const replaced = selection.ranges.reduce((sum, range) => sum + range.to - range.from, 0);
    if (doc.length - replaced + length * selection.ranges.length <= MAX_FILE_BYTES) return;
    event.preventDefault();
    event.stopPropagation();
    showStatus('not pasted: a song holds at most 64 MiB');
  }, true);
  // The same keys where the editor has no focus.
  window.addEventListener('keydown', (event) => {
    if (event.defaultPrevented || !(event.ctrlKey || event.metaKey)) return;
    const action = event.key === 'Enter' ? (event.shiftKey ? playOrPause : compileNow) : event.key === '.' ? stop : null;
    if (!action) return;
    event.preventDefault();
    guarded(action);
  });
  roll = createRoll($('rollCanvas'), $('roll'));
  new ResizeObserver(() => {
    roll.resize();
    if (state.compiled) showLanes(state.compiled.channels);
  }).observe($('roll'));
  const on = (id, event, action) => $(id).addEventListener(event, (e) => guarded(() => action(e)));
  on('examples', 'change', () => $('examples').value && openExample($('examples').value));
  on('play', 'click', playOrPause);
  on('stop', 'click', stop);
  on('seek', 'click', seekClick);
  // The seek bar by keys: arrows five seconds back or on, Home the start.
  on('seek', 'keydown', (event) => {
    const step = { ArrowLeft: -5, ArrowRight: 5, Home: -Infinity }[event.key];
    if (step === undefined) return;
    event.preventDefault();
    return seek(stepFrom(heardPosition().frame, step * SAMPLE_RATE));
  });
  on('zoomIn', 'click', () => zoom(1));
  on('zoomOut', 'click', () => zoom(-1));
  // Ctrl+wheel on the roll zooms it, not the page.
  on('rollCanvas', 'wheel', (event) => {
    if (!event.ctrlKey && !event.metaKey) return;
    event.preventDefault();
    zoom(event.deltaY < 0 ? 1 : -1);
  });
  showZoom();
  on('markA', 'click', () => markSection('from'));
  on('markB', 'click', () => markSection('to'));
  on('clearSection', 'click', () => setSection());
  on('qvb', 'click', () => download(state.compiled.image, `${baseName()}.qvb`, 'application/octet-stream'));
  on('asm', 'click', () => download(state.compiled.asmText, `${baseName()}.asm`, 'text/plain'));
  on('gb', 'click', () => download(state.compiled.gb, `${baseName()}.gb`, 'application/octet-stream'));
  on('gbs', 'click', () => download(state.compiled.gbs, `${baseName()}.gbs`, 'application/octet-stream'));
  on('wav', 'click', downloadWav);
  on('share', 'click', shareLink);
  on('open', 'change', () => $('open').files[0] && openFile($('open').files[0]));
  window.addEventListener('hashchange', () => guarded(songFromLink));
  requestAnimationFrame(showPosition);
  if (await songFromLink()) return;
  const kept = stored();
  if (kept) {
    await compileText(kept.text, kept.nameFollowsTitle ? null : kept.fileName);
    return;
  }
  if (examples.length > 0) await openExample(examples[0]);
}

// What the browser test drives: the same calls the controls make.
window.playground = {
  ready: start().catch((error) => {
    showStatus(`the page could not start: ${error.message}`);
    throw error;
  }),
  compile: (text, fileName) => compileText(text, fileName),
  compileNow,
  openExample,
  openFile,
  image: () => state.compiled?.image.slice(),
  renderWav,
  playOrPause,
  stop,
  seek,
  setSection,
  heardPosition,
  songPlace,
  muted: () => [...Array(state.compiled?.channels ?? 0).keys()].filter((i) => (audio.solo >= 0 ? i !== audio.solo : audio.muted.has(i))),
  meters: () => [...$('lanes').querySelectorAll('.meter > span')].map((m) => parseFloat(m.style.width) || 0),
  replacedAt: () => audio.replacedAt,
  // The next `frames` the player sends out, in blocks of {songFrame, left, right}.
  captureOutput: (frames) => new Promise((resolve) => {
    audio.captured = resolve;
    audio.node.port.postMessage({ type: 'capture', frames });
  }),
  seekedAt: () => audio.seekedAt,
  surveyed: () => (state.surveyed ? new Promise((resolve) => resolve(state.surveyed)) : null),
  // The survey of the song compiled last, once it is there.
  currentSurvey: () => new Promise((resolve) => {
    const check = () => (state.surveyed && state.surveyedFor === state.compiled ? resolve(state.surveyed) : surveyWaiters.push(check));
    check();
  }),
  fileName: currentName,
  lastDownload: () => lastDownload,
  text: () => editor.text(),
  readOnly: () => editor.readOnly(),
  editor: () => editor,
  diagnostics: () => editor.diagnostics(),
  // The notes lit in the editor, and the song frame they were lit for (-1: none lit).
  lit: () => ({ frame: lit.frame, places: editor.lit() }),
  roll: () => roll,
  fps: () => drawing.fps,
  messages: () => [...$('messages').children].map((li) => li.textContent),
};
