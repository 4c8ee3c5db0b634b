// The playground page: an editor that compiles as you type (in a worker), a
// transport that plays through an audio worklet, downloads and a link that
// carries the song. The page thread never compiles or renders sound itself.
import { SAMPLE_RATE, channelLetter } from './core.js';
import { decodeSong, encodeSong, MAX_SOURCE_BYTES } from './share.js';

const COMPILE_DELAY_MS = 150;
const COMPILE_TIMEOUT_MS = 10000;
const RENDER_TIMEOUT_MS = 120000;

const $ = (id) => document.getElementById(id);
const editor = $('source');
const gutter = $('gutter');
const marker = $('marker');

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

// ---- editor ---------------------------------------------------------------

function updateGutter(errorLine = 0) {
  const lines = editor.value.split('\n').length;
  const numbers = [];
  for (let i = 1; i <= lines; i++) numbers.push(i === errorLine ? `<span class="error">${i}</span>` : String(i));
  gutter.innerHTML = numbers.join('\n') + '\n';
  gutter.scrollTop = editor.scrollTop;
}

function lineHeight() {
  return parseFloat(getComputedStyle(editor).lineHeight);
}

function charWidth() {
  const probe = document.createElement('span');
  probe.textContent = 'x'.repeat(100);
  probe.style.font = getComputedStyle(editor).font;
  probe.style.visibility = 'hidden';
  document.body.append(probe);
  const width = probe.getBoundingClientRect().width / 100;
  probe.remove();
  return width;
}

// The text index of a line and a row the compiler counted in bytes from 1.
function indexOf(line, row) {
  const lines = editor.value.split('\n');
  let index = 0;
  for (let i = 0; i < Math.min(line - 1, lines.length); i++) index += lines[i].length + 1;
  const text = lines[Math.min(line, lines.length) - 1] || '';
  const bytes = new TextEncoder().encode(text).subarray(0, Math.max(0, row - 1));
  return index + new TextDecoder().decode(bytes).replace(/\uFFFD$/, '').length;
}

let markedAt = null; // {line, row} of the error shown

function placeMarker() {
  if (!markedAt) {
    marker.hidden = true;
    return;
  }
  const { line, row } = markedAt;
  const text = editor.value.split('\n')[line - 1] || '';
  const before = text.slice(0, indexOf(line, row) - indexOf(line, 1));
  let column = 0; // tabs advance to the next stop of four, as the editor shows them
  for (const c of before) column = c === '\t' ? (Math.floor(column / 4) + 1) * 4 : column + 1;
  const style = getComputedStyle(editor);
  marker.style.top = `${parseFloat(style.paddingTop) + (line - 1) * lineHeight() - editor.scrollTop}px`;
  marker.style.left = `${parseFloat(style.paddingLeft) + column * charWidth() - editor.scrollLeft}px`;
  marker.hidden = false;
}

function goTo(line, row) {
  const at = indexOf(line, row);
  editor.focus();
  editor.setSelectionRange(at, at + 1);
}

function showMessages(items) {
  const list = $('messages');
  list.replaceChildren();
  for (const { kind, text, line, row } of items) {
    const item = document.createElement('li');
    item.className = kind;
    item.textContent = text;
    if (line > 0) item.onclick = () => goTo(line, row);
    list.append(item);
  }
}

// ---- compiling ------------------------------------------------------------

const state = {
  fileName: 'song.qvm',
  compiled: null, // the last good compile: {image, channels, asmText, gb, gbs, gameBoyRefusal}
  lastResult: null,
  compiling: false,
  again: false,
};
let core;
let compileTimer = 0;
let compileWaiters = [];

function scheduleCompile() {
  clearTimeout(compileTimer);
  compileTimer = setTimeout(compileNow, COMPILE_DELAY_MS);
}

async function compileNow() {
  if (state.compiling) {
    state.again = true;
    return;
  }
  state.compiling = true;
  const started = performance.now();
  const source = new TextEncoder().encode(editor.value);
  const result = await core.request('compile', { source, fileName: state.fileName }, COMPILE_TIMEOUT_MS);
  result.roundTripMs = performance.now() - started;
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
  if (result.ok) {
    state.compiled = result;
    // A song playing or paused takes the edit in place.
    if (audio.playing || audio.paused) audio.node.port.postMessage({ type: 'replace', image: result.image.slice() });
    markedAt = null;
    updateGutter();
    showMessages([{ kind: 'ok', text: `compiled: ${result.image.length} bytes, ${result.channels} channels` }]);
    $('figures').textContent = `compiled in ${result.compileMs.toFixed(1)} ms (${result.roundTripMs.toFixed(1)} ms with the worker)`;
    showChannels(result.channels);
  } else {
    markedAt = result.line > 0 ? { line: result.line, row: result.row } : null;
    updateGutter(result.line);
    showMessages([{ kind: 'error', text: result.message, line: result.line, row: result.row }]);
  }
  placeMarker();
  for (const id of ['play', 'qvb', 'wav']) $(id).disabled = !state.compiled;
  $('asm').disabled = !state.compiled?.asmText;
  for (const id of ['gb', 'gbs']) {
    $(id).disabled = !state.compiled?.[id];
    $(id).title = state.compiled?.gameBoyRefusal ?? 'plays on a Game Boy';
  }
  showStatus(result.ok ? 'ready' : state.compiled ? 'does not compile: the last good version plays' : 'does not compile');
}

// Resolves with the result of the compile of the text as it is now.
function compileText(text, fileName = state.fileName) {
  editor.value = text;
  editor.readOnly = false;
  $('examples').value = '';
  state.fileName = fileName;
  clearTimeout(compileTimer);
  const done = new Promise((resolve) => compileWaiters.push(resolve));
  compileNow();
  return done;
}

// ---- playing --------------------------------------------------------------

const audio = { context: null, node: null, reports: [], playing: false, paused: false, channels: 0, muted: new Set(), replacedAt: -1 };
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
    } else if (message.type === 'error') {
      showStatus(`playback stopped: ${message.message}`);
      setPlaying(false, false);
    }
  };
  audio.context = context;
  audio.node = node;
  requestAnimationFrame(showPosition);
}

// What the listener hears now: the newest report at or before the context
// frame being output, moved on by the frames since when the song was running.
function heardPosition() {
  const { context, reports } = audio;
  if (!context || reports.length === 0) return { frame: 0, loops: 0, finishedAt: -1 };
  const stamp = context.getOutputTimestamp ? context.getOutputTimestamp().contextTime : undefined;
  const now = (stamp ?? context.currentTime - (context.outputLatency || 0)) * context.sampleRate;
  let report = reports[0];
  for (const r of reports) if (r.contextFrame <= now) report = r;
  const later = report.playing ? Math.max(0, now - report.contextFrame) : 0;
  return { frame: report.songFrame + Math.min(later, REPORT_SPAN), loops: report.loops, finishedAt: report.finishedAt };
}
const REPORT_SPAN = 4096; // never run ahead of reports further than two report periods

function formatTime(frame) {
  const ms = Math.floor((frame * 1000) / SAMPLE_RATE);
  const minutes = Math.floor(ms / 60000);
  const seconds = ((ms % 60000) / 1000).toFixed(3).padStart(6, '0');
  return `${minutes}:${seconds}`;
}

function showPosition() {
  const heard = heardPosition();
  $('position').textContent = formatTime(heard.frame);
  $('loops').textContent = String(heard.loops);
  const loopLimit = parseInt($('playLoops').value, 10);
  const looped = loopLimit > 0 && heard.loops >= loopLimit;
  if (audio.playing && (looped || (heard.finishedAt >= 0 && heard.frame >= heard.finishedAt))) stop();
  requestAnimationFrame(showPosition);
}

function setPlaying(playing, paused) {
  audio.playing = playing;
  audio.paused = paused;
  $('play').textContent = playing ? 'Pause' : paused ? 'Resume' : 'Play';
  $('stop').disabled = !playing && !paused;
}

async function playOrPause() {
  await ensureAudio();
  await audio.context.resume();
  if (audio.playing) {
    audio.node.port.postMessage({ type: 'pause' });
    setPlaying(false, true);
  } else if (audio.paused) {
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
  setPlaying(false, false);
}

function showChannels(count) {
  if (count === audio.channels) return;
  audio.channels = count;
  const box = $('channels');
  box.replaceChildren();
  for (let i = 0; i < count; i++) {
    const label = document.createElement('label');
    const check = document.createElement('input');
    check.type = 'checkbox';
    check.checked = !audio.muted.has(i);
    check.onchange = () => {
      if (check.checked) audio.muted.delete(i);
      else audio.muted.add(i);
      audio.node?.port.postMessage({ type: 'mute', channel: i, muted: !check.checked });
    };
    label.append(check, ` ${channelLetter(i)}`);
    box.append(label);
  }
}

// ---- downloads ------------------------------------------------------------

function download(bytes, name, type) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], { type }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

function baseName() {
  return state.fileName.replace(/\.[^.]*$/, '') || 'song';
}

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
  if (editor.readOnly) return showStatus('only a source travels in a link, not a compiled image');
  const fragment = await encodeSong(new TextEncoder().encode(editor.value), state.fileName);
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

// A file from disk: a source goes into the editor; an image (bytes that are
// no text) plays and exports as it is, with the editor locked until a song
// is picked or opened.
async function openFile(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  let text = null;
  try {
    text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    // not UTF-8: an image, or something the compiler will refuse
  }
  if (text !== null && !text.includes('\0')) return compileText(text, file.name);
  editor.value = `${file.name}: ${bytes.length} bytes that are no source text.\nPick or open a song to edit one.`;
  editor.readOnly = true;
  $('examples').value = '';
  state.fileName = file.name;
  const started = performance.now();
  const result = await core.request('compile', { source: bytes, fileName: file.name }, COMPILE_TIMEOUT_MS);
  result.roundTripMs = performance.now() - started;
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
  for (const name of examples) $('examples').append(new Option(name, name));
  editor.addEventListener('input', () => {
    if (new TextEncoder().encode(editor.value).length > MAX_SOURCE_BYTES) {
      showStatus(`a song larger than ${MAX_SOURCE_BYTES} bytes is not compiled here`);
      return;
    }
    $('examples').value = '';
    updateGutter(markedAt?.line);
    scheduleCompile();
  });
  editor.addEventListener('scroll', () => {
    gutter.scrollTop = editor.scrollTop;
    placeMarker();
  });
  const on = (id, event, action) => $(id).addEventListener(event, () => guarded(action));
  on('examples', 'change', () => $('examples').value && openExample($('examples').value));
  on('play', 'click', playOrPause);
  on('stop', 'click', stop);
  on('qvb', 'click', () => download(state.compiled.image, `${baseName()}.qvb`, 'application/octet-stream'));
  on('asm', 'click', () => download(state.compiled.asmText, `${baseName()}.asm`, 'text/plain'));
  on('gb', 'click', () => download(state.compiled.gb, `${baseName()}.gb`, 'application/octet-stream'));
  on('gbs', 'click', () => download(state.compiled.gbs, `${baseName()}.gbs`, 'application/octet-stream'));
  on('wav', 'click', downloadWav);
  on('share', 'click', shareLink);
  on('open', 'change', () => $('open').files[0] && openFile($('open').files[0]));
  window.addEventListener('hashchange', () => guarded(songFromLink));
  if (!(await songFromLink()) && examples.length > 0) await openExample(examples[0]);
}

// What the browser test drives: the same calls the controls make.
window.playground = {
  ready: start().catch((error) => {
    showStatus(`the page could not start: ${error.message}`);
    throw error;
  }),
  compile: (text, fileName) => compileText(text, fileName),
  openExample,
  openFile,
  image: () => state.compiled?.image.slice(),
  renderWav,
  playOrPause,
  stop,
  heardPosition,
  replacedAt: () => audio.replacedAt,
  marker: () => (marker.hidden ? null : { ...markedAt, top: marker.style.top, left: marker.style.left }),
  errorLineInGutter: () => Number(gutter.querySelector('.error')?.textContent || 0),
  messages: () => [...$('messages').children].map((li) => li.textContent),
};
