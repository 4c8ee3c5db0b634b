// The compile worker: every compile, export and render runs here, so a long
// one never holds up the page (which can also end this worker and start a
// new one). Requests are {id, kind, ...}; each answer carries the same id.
import { instantiateCore, wavFile } from './core.js';

let core = null;

function compile({ source, fileName }) {
  const started = performance.now();
  const loaded = core.load(source, fileName);
  const compileMs = performance.now() - started;
  const warnings = core.warnings(source, fileName);
  if (!loaded.ok) return { ...loaded, warnings, compileMs };
  const asm = core.exportAsm(loaded.image);
  const asmText = asm.result === 0 ? asm.text : null;
  const rom = core.gameBoy(loaded.image, 0);
  const gbs = core.gameBoy(loaded.image, 1);
  return {
    ok: true, image: loaded.image, channels: loaded.channels, asmText, warnings, compileMs,
    gb: rom.bytes ?? null, gbs: gbs.bytes ?? null, gameBoyRefusal: rom.error ?? gbs.error ?? null,
  };
}

// What the page draws: the song's notes with their frames (and with their
// places in the source, when it comes along), and its length, intro and loop.
function survey({ image, source, loops }) {
  const started = performance.now();
  if (source) core.load(source, 'song');
  const surveyed = core.survey(image, { loops });
  if (surveyed.error) return { ok: false, message: surveyed.error };
  return { ok: true, ...surveyed, surveyMs: performance.now() - started };
}

function render({ image, lengthFrames, loops, fadeFrames }) {
  const started = performance.now();
  const rendered = core.render(image, { lengthFrames, loops, fadeFrames });
  if (rendered.error) return { ok: false, message: rendered.error };
  return { ok: true, wav: wavFile(rendered.samples), renderMs: performance.now() - started };
}

const handlers = { compile, render, survey };

self.onmessage = (event) => {
  const { id, kind } = event.data;
  let answer;
  try {
    if (kind === 'init') {
      core = instantiateCore(event.data.wasm);
      answer = { ok: true };
    } else if (!core || !handlers[kind]) {
      answer = { ok: false, message: `no such request: ${kind}` };
    } else {
      answer = handlers[kind](event.data);
    }
  } catch (error) {
    // A trap in the core leaves its memory in an unknown state: the page
    // replaces this worker after such an answer.
    answer = { ok: false, broken: true, message: `internal error: ${error.message}` };
  }
  const transfer = [answer.image?.buffer, answer.wav?.buffer, answer.asmText?.buffer, answer.events?.buffer, answer.repeats?.buffer,
    answer.gb?.buffer, answer.gbs?.buffer].filter(Boolean);
  self.postMessage({ id, ...answer }, transfer);
};
