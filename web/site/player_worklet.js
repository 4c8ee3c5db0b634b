// The audio worklet: pulls every block of sound from the core's Mixer, on the
// audio thread, at the context's rate. It reports which song frame it rendered
// at which context frame, so the page can tell what is heard now (the output
// plays a little later than this renders).
import { instantiateCore } from './core.js';

const REPORT_EVERY = 2048; // frames, about 20 reports a second
// An edited song catches up silently with the one playing, this many frames
// per block (32 times as fast as it plays), and takes over where it is.
const CATCH_UP_FRAMES = 4096;
const MAX_FILL_FRAMES = 8192;
// A seek pulls a fresh player silently to the frame asked for, this many
// frames per block (silence is heard meanwhile).
const SEEK_FRAMES = 16384;
// A section played again and again (A-B): a player is made ready at its
// start while the song plays (this many frames per block), and takes over
// at the section's end without a gap.
const SECTION_FRAMES = 4096;

// Pulls a player that is not heard from frame `at` towards frame `to`, at
// most `budget` frames in one go; gives the frame it reached.
function fillSilently(player, at, to, budget) {
  while (budget > 0 && at < to) {
    const frames = Math.min(budget, MAX_FILL_FRAMES, to - at);
    player.fill(frames);
    at += frames;
    budget -= frames;
  }
  return at;
}

class QvbPlayerProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.core = instantiateCore(options.processorOptions.wasm);
    this.player = null;
    this.next = null;
    this.seeking = null; // {player, at}: a fresh player pulled up to songFrame
    this.section = null; // {image, from, to, ready, at}: the A-B section
    this.playing = false;
    this.songFrame = 0;
    this.sinceReport = 0;
    this.finishedAt = -1;
    this.muted = new Set();
    this.capture = null; // {frames, blocks}: the next blocks played, kept as they left
    this.changed = true;
    this.port.onmessage = (event) => this.command(event.data);
  }

  command(message) {
    try {
      if (message.type === 'start') this.start(message.image);
      else if (message.type === 'resume') this.playing = this.player !== null || this.seeking !== null;
      else if (message.type === 'pause') this.playing = false;
      else if (message.type === 'stop') this.stop();
      else if (message.type === 'replace') this.replace(message.image);
      else if (message.type === 'mute') this.mute(message.channel, message.muted);
      else if (message.type === 'seek') this.seek(message.image, message.frame, message.play);
      else if (message.type === 'section') this.setSection(message.image, message.from, message.to);
      else if (message.type === 'capture') this.capture = { frames: message.frames, blocks: [] };
    } catch (error) {
      this.stop();
      this.port.postMessage({ type: 'error', message: error.message });
    }
    this.changed = true;
  }

  start(image) {
    this.stop();
    this.player = this.core.player(new Uint8Array(image));
    if (this.player === null) {
      this.port.postMessage({ type: 'error', message: 'the player refused the image' });
      return;
    }
    for (const channel of this.muted) this.player.mute(channel, true);
    this.playing = true;
  }

  // The edited song runs silently from its start up to the frame now playing
  // and then replaces the old one there, so an edit is heard in place.
  replace(image) {
    if (this.section) {
      this.dropSection();
      this.section.image = new Uint8Array(image);
    }
    if (this.seeking) {
      this.seek(image, this.songFrame, false);
      return;
    }
    if (!this.player) return;
    this.dropNext();
    this.next = this.core.player(new Uint8Array(image));
    if (this.next === null) return;
    for (const channel of this.muted) this.next.mute(channel, true);
    this.nextFrame = 0;
  }

  // Exact, as a host that renders from the start: a fresh player runs
  // silently up to the frame and plays on from there. play: start playing
  // (else keep playing or paused as now).
  seek(image, frame, play) {
    this.dropNext();
    this.dropSeek();
    const fresh = this.core.player(new Uint8Array(image));
    if (fresh === null) {
      this.port.postMessage({ type: 'error', message: 'the player refused the image' });
      return;
    }
    for (const channel of this.muted) fresh.mute(channel, true);
    if (this.player) this.player.free();
    this.player = null;
    this.seeking = { player: fresh, at: 0 };
    this.songFrame = Math.max(0, Math.floor(frame));
    this.finishedAt = -1;
    if (play) this.playing = true;
  }

  seekOn() {
    const seeking = this.seeking;
    seeking.at = fillSilently(seeking.player, seeking.at, this.songFrame, SEEK_FRAMES);
    if (seeking.at < this.songFrame) return false;
    this.player = seeking.player;
    this.seeking = null;
    if (this.player.finished()) this.finishedAt = this.songFrame;
    this.port.postMessage({ type: 'seeked', songFrame: this.songFrame });
    return true;
  }

  // From frame `from` to frame `to` again and again; no image: no section.
  setSection(image, from, to) {
    this.dropSection();
    if (!image || !(to > from) || from < 0) return;
    this.section = { image: new Uint8Array(image), from: Math.floor(from), to: Math.floor(to), ready: null, at: 0 };
  }

  dropSection() {
    if (this.section?.ready) this.section.ready.free();
    if (this.section) this.section.ready = null;
  }

  // Pulls the section's next player silently towards its start.
  prepareSection() {
    const section = this.section;
    if (!section.ready) {
      section.ready = this.core.player(section.image);
      if (section.ready === null) {
        this.section = null;
        return;
      }
      for (const channel of this.muted) section.ready.mute(channel, true);
      section.at = 0;
    }
    section.at = fillSilently(section.ready, section.at, section.from, SECTION_FRAMES);
  }

  dropSeek() {
    if (this.seeking) this.seeking.player.free();
    this.seeking = null;
  }

  catchUp() {
    this.nextFrame = fillSilently(this.next, this.nextFrame, this.songFrame, CATCH_UP_FRAMES);
    if (this.nextFrame < this.songFrame) return;
    this.player.free();
    this.player = this.next;
    this.next = null;
    this.finishedAt = -1;
    this.port.postMessage({ type: 'replaced', songFrame: this.songFrame });
  }

  dropNext() {
    if (this.next) this.next.free();
    this.next = null;
  }

  stop() {
    this.dropNext();
    this.dropSeek();
    this.dropSection();
    if (this.player) this.player.free();
    this.player = null;
    this.playing = false;
    this.songFrame = 0;
    this.finishedAt = -1;
  }

  mute(channel, muted) {
    if (muted) this.muted.add(channel);
    else this.muted.delete(channel);
    if (this.player) this.player.mute(channel, muted);
    if (this.next) this.next.mute(channel, muted);
    if (this.seeking) this.seeking.player.mute(channel, muted);
    if (this.section?.ready) this.section.ready.mute(channel, muted);
  }

  // The block that starts at context frame contextFrame sounds song frame
  // songFrame first; playing says whether the song advances in it.
  report(contextFrame, songFrame, playing) {
    this.sinceReport = 0;
    this.changed = false;
    this.port.postMessage({
      type: 'clock',
      contextFrame,
      songFrame,
      playing,
      loops: this.player ? this.player.loops() : 0,
      levels: this.player ? this.player.levels() : [],
      finishedAt: this.finishedAt,
    });
  }

  output(player, left, right, at, frames) {
    if (frames <= 0) return;
    const samples = player.fill(frames);
    for (let i = 0; i < frames; i++) {
      left[at + i] = samples[2 * i] / 32768;
      if (right) right[at + i] = samples[2 * i + 1] / 32768;
    }
  }

  // The section's end: its ready player takes over at its start (or, not
  // ready yet, a seek there).
  sectionAgain() {
    const section = this.section;
    this.changed = true;
    this.finishedAt = -1;
    if (section.ready && section.at >= section.from) {
      this.player.free();
      this.player = section.ready;
      section.ready = null;
      this.songFrame = section.from;
      return;
    }
    const image = section.image;
    this.dropSection();
    this.player.free();
    this.player = this.core.player(image);
    if (this.player === null) throw new Error('the player refused the image');
    for (const channel of this.muted) this.player.mute(channel, true);
    this.seeking = { player: this.player, at: 0 };
    this.player = null;
    this.songFrame = section.from;
  }

  // A block as it leaves for the speakers, with the song frame it begins at;
  // once enough are kept they go to the page (which checks what is heard).
  keep(songFrame, left, right) {
    const capture = this.capture;
    capture.blocks.push({ songFrame, left: left.slice(), right: (right ?? left).slice() });
    capture.frames -= left.length;
    if (capture.frames > 0) return;
    this.port.postMessage({ type: 'captured', blocks: capture.blocks });
    this.capture = null;
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const frames = left.length;
    const blockFrame = currentFrame;
    const blockSong = this.songFrame;
    if (this.seeking) {
      try {
        if (this.seekOn()) this.changed = true;
      } catch (error) {
        this.stop();
        this.port.postMessage({ type: 'error', message: error.message });
      }
    }
    const playing = this.playing && this.player !== null;
    if (playing) {
      try {
        if (this.next) this.catchUp();
        if (this.section) this.prepareSection();
        const section = this.section;
        // The frames of this block before the section's end, if it ends here.
        const before = section && this.songFrame < section.to ? Math.min(frames, section.to - this.songFrame) : frames;
        this.output(this.player, left, right, 0, before);
        this.songFrame += before;
        if (before < frames || (section && this.songFrame >= section.to)) this.sectionAgain();
        // (A section that was not ready yet is being sought: silence.)
        if (this.player && before < frames) {
          this.output(this.player, left, right, before, frames - before);
          this.songFrame += frames - before;
        }
        if (this.player && this.finishedAt < 0 && this.player.finished()) this.finishedAt = this.songFrame;
      } catch (error) {
        this.stop();
        this.port.postMessage({ type: 'error', message: error.message });
      }
    }
    if (playing && this.capture) this.keep(blockSong, left, right);
    this.sinceReport += frames;
    if (this.changed || this.sinceReport >= REPORT_EVERY) this.report(blockFrame, blockSong, playing);
    return true;
  }
}

registerProcessor('qvb-player', QvbPlayerProcessor);
