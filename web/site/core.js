// The core compiled to WebAssembly, wrapped for JavaScript: load a song (source
// or image), export assembler text, render samples, and players that the
// audio worklet fills. The module is built standalone (no generated glue), so
// the same few lines instantiate it in the compile worker and in the worklet,
// where neither fetch nor the usual loaders exist.

export const SAMPLE_RATE = 44100;

// Compiles the module bytes synchronously (allowed off the main thread).
export function instantiateCore(wasmBytes) {
  const module = new WebAssembly.Module(wasmBytes);
  const imports = {};
  for (const { module: from, name } of WebAssembly.Module.imports(module)) {
    (imports[from] ||= {})[name] = () => {
      throw new Error(`the core called ${from}.${name}, which the page does not provide`);
    };
  }
  // Views on memory are made afresh after every call that may allocate.
  imports.env.emscripten_notify_memory_growth = () => {};
  imports.wasi_snapshot_preview1.proc_exit = (code) => {
    throw new Error(`the core stopped (exit ${code})`);
  };
  const instance = new WebAssembly.Instance(module, imports);
  instance.exports._initialize();
  return new Core(instance.exports);
}

class Core {
  constructor(exports) {
    this.x = exports;
  }

  bytes(pointer, length) {
    return new Uint8Array(this.x.memory.buffer, pointer, length);
  }

  // Copies bytes into module memory for the length of fn(pointer).
  withBytes(data, fn) {
    const pointer = this.x.malloc(Math.max(1, data.length));
    if (pointer === 0) throw new Error('out of memory');
    try {
      this.bytes(pointer, data.length).set(data);
      return fn(pointer);
    } finally {
      this.x.free(pointer);
    }
  }

  cString(pointer) {
    const memory = new Uint8Array(this.x.memory.buffer);
    let end = pointer;
    while (memory[end] !== 0) end++;
    return new TextDecoder().decode(memory.subarray(pointer, end));
  }

  // A source or image; either {ok: true, image} or {ok: false, message, line,
  // row, later: [{message, line, row}]} with the messages worded as the
  // command-line tools word them, the errors after the first in `later`.
  load(data, fileName) {
    return this.withBytes(data, (pointer) => {
      const status = this.x.qvbw_load(pointer, data.length);
      if (status === 1) {
        const image = this.bytes(this.x.qvbw_image(), this.x.qvbw_image_size()).slice();
        return { ok: true, image, channels: this.x.qvbw_image_channels() };
      }
      if (status === -1) return { ok: false, message: `${fileName}: out of memory`, line: 0, row: 0 };
      if (status < 0) return { ok: false, message: `${fileName}: not a song the page can hand over`, line: 0, row: 0 };
      const name = new TextEncoder().encode(fileName + '\0');
      return this.withBytes(name, (namePointer) => {
        const message = this.cString(this.x.qvbw_diagnosis(namePointer));
        const later = [];
        for (let i = 0; i < this.x.qvbw_later_error_count(); i++) {
          later.push({ message: this.cString(this.x.qvbw_later_diagnosis(i, namePointer)),
            line: this.x.qvbw_later_error_line(i), row: this.x.qvbw_later_error_row(i) });
        }
        return { ok: false, message, later, code: this.x.qvbw_error_code(), line: this.x.qvbw_error_line(), row: this.x.qvbw_error_row() };
      });
    });
  }

  // The warnings qvbrender prints for a source, [{line, row, text}]; none
  // for an image.
  warnings(source, fileName) {
    return this.withBytes(source, (pointer) => {
      const name = new TextEncoder().encode(fileName + '\0');
      const status = this.withBytes(name, (namePointer) => this.x.qvbw_warnings(pointer, source.length, namePointer));
      if (status !== 1) return [];
      const list = [];
      for (let i = 0; i < this.x.qvbw_warning_count(); i++) {
        list.push({ line: this.x.qvbw_warning_line(i), row: this.x.qvbw_warning_row(i), text: this.cString(this.x.qvbw_warning_text(i)) });
      }
      return list;
    });
  }

  // The song followed to its end (after `loops` loops) without its sound:
  // {events: Int32Array of [kind, channel, frame, note, ticks, offset, line,
  // row] per event (EVENT_SIZE values), repeats: Int32Array of [channel,
  // from, to, pass, count, depth] per pass of a /: :/ loop (REPEAT_SIZE
  // values), truncated, endFrame, introFrame, loopFrames, finished}; or {error}. A note's or rest's line and row are
  // its place in the source loaded last, when the image is that source's
  // (else 0).
  survey(image, { loops = 1, maxEvents = 1 << 20 } = {}) {
    return this.withBytes(image, (pointer) => {
      const status = this.x.qvbw_survey(pointer, image.length, loops, maxEvents);
      if (status !== 1) return { error: RENDER_ERRORS[status] ?? 'the song could not be played' };
      const count = this.x.qvbw_survey_event_count();
      const events = new Int32Array(this.x.memory.buffer, this.x.qvbw_survey_events(), EVENT_SIZE * count).slice();
      const passes = this.x.qvbw_survey_repeat_count();
      const repeats = new Int32Array(this.x.memory.buffer, this.x.qvbw_survey_repeats(), REPEAT_SIZE * passes).slice();
      return {
        events,
        repeats,
        truncated: this.x.qvbw_survey_truncated() === 1,
        endFrame: this.x.qvbw_render_end_frame(),
        introFrame: this.x.qvbw_render_intro_frame(),
        loopFrames: this.x.qvbw_render_loop_frames(),
        finished: this.x.qvbw_render_finished() === 1,
      };
    });
  }

  // {result, text}: result 0 when the exporter took the image; the text as
  // the bytes the exporter wrote (a title is written as it is).
  exportAsm(image) {
    return this.withBytes(image, (pointer) => {
      const result = this.x.qvbw_export_asm(pointer, image.length);
      return { result, text: this.bytes(this.x.qvbw_text(), this.x.qvbw_text_size()).slice() };
    });
  }

  // {bytes} of a Game Boy ROM (kind 0) or GBS file (kind 1), or {error}
  // saying why the song does not fit.
  gameBoy(image, kind) {
    return this.withBytes(image, (pointer) => {
      const result = this.x.qvbw_game_boy(pointer, image.length, kind);
      if (result !== 1) return { error: new TextDecoder().decode(this.bytes(this.x.qvbw_text(), this.x.qvbw_text_size())) };
      return { bytes: this.bytes(this.x.qvbw_game_boy_bytes(), this.x.qvbw_game_boy_size()).slice() };
    });
  }

  // {samples, endFrame}: interleaved 16-bit stereo samples as little-endian
  // bytes; or {error} saying why there are none.
  render(image, { lengthFrames = -1, loops = 2, fadeFrames = 0 } = {}) {
    return this.withBytes(image, (pointer) => {
      const status = this.x.qvbw_render(pointer, image.length, lengthFrames, loops, fadeFrames);
      if (status !== 1) return { error: RENDER_ERRORS[status] ?? 'the song could not be played' };
      const frames = this.x.qvbw_sample_frames();
      return { samples: this.bytes(this.x.qvbw_samples(), frames * 4).slice(), endFrame: this.x.qvbw_render_end_frame() };
    });
  }

  // A player of the image, or null when the image is refused.
  player(image) {
    const handle = this.withBytes(image, (pointer) => this.x.qvbw_player_new(pointer, image.length));
    return handle === 0 ? null : new Player(this.x, handle);
  }
}

// What a render's status other than done means, in the page's words.
const RENDER_ERRORS = {
  0: 'the song could not be played',
  [-1]: 'out of memory',
  [-2]: 'a length, loop count or fade out of range',
};

class Player {
  constructor(exports, handle) {
    this.x = exports;
    this.handle = handle;
    this.channels = exports.qvbw_player_channels(handle);
  }

  // The next frames as interleaved samples, valid until the next call.
  fill(frames) {
    const pointer = this.x.qvbw_player_fill(this.handle, frames);
    return new Int16Array(this.x.memory.buffer, pointer, 2 * frames);
  }

  mute(channel, muted) {
    this.x.qvbw_player_mute(this.handle, channel, muted ? 1 : 0);
  }

  loops() {
    return this.x.qvbw_player_loops(this.handle);
  }

  // Each channel's level, right and left (240 is v15), as a plain array.
  levels() {
    const pointer = this.x.qvbw_player_levels(this.handle);
    return pointer === 0 ? [] : Array.from(new Int32Array(this.x.memory.buffer, pointer, 2 * this.channels));
  }

  finished() {
    return this.x.qvbw_player_finished(this.handle) === 1;
  }

  free() {
    this.x.qvbw_player_free(this.handle);
    this.handle = 0;
  }
}

// A WAV file of 16-bit stereo samples: the plain 44-byte RIFF header, then the data.
export function wavFile(sampleBytes) {
  const file = new Uint8Array(44 + sampleBytes.length);
  const view = new DataView(file.buffer);
  const tag = (at, text) => [...text].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  const channels = 2;
  const bytesPerSample = 2;
  tag(0, 'RIFF');
  view.setUint32(4, 36 + sampleBytes.length, true);
  tag(8, 'WAVE');
  tag(12, 'fmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true); // PCM
  view.setUint16(22, channels, true);
  view.setUint32(24, SAMPLE_RATE, true);
  view.setUint32(28, SAMPLE_RATE * channels * bytesPerSample, true);
  view.setUint16(32, channels * bytesPerSample, true);
  view.setUint16(34, 8 * bytesPerSample, true);
  tag(36, 'data');
  view.setUint32(40, sampleBytes.length, true);
  file.set(sampleBytes, 44);
  return file;
}

// The kinds of the survey's events, as the sequencer numbers them.
export const EVENT = { NOTE: 0, REST: 1, LOOP_MARK: 2, JUMP: 3, END: 4, TEMPO: 5 };
// The values of one surveyed event, and where each lies among them.
export const EVENT_SIZE = 8;
export const AT = { KIND: 0, CHANNEL: 1, FRAME: 2, NOTE: 3, TICKS: 4, OFFSET: 5, LINE: 6, ROW: 7 };
// The values of one pass of a loop, and where each lies among them.
export const REPEAT_SIZE = 6;
export const PASS = { CHANNEL: 0, FROM: 1, TO: 2, PASS: 3, COUNT: 4, DEPTH: 5 };

// The letter of a channel as written in a source: A for the first.
export function channelLetter(index) {
  return index < 26 ? String.fromCharCode(65 + index) : String(index + 1);
}
