// The audio worklet: pulls every block of sound from the core's Mixer, on the
// audio thread, at the context's rate. It reports which song frame it rendered
// at which context frame, so the page can tell what is heard now (the output
// plays a little later than this renders).
import { instantiateCore } from './core.js';

const REPORT_EVERY = 2048; // frames, about 20 reports a second

class QvbPlayerProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.core = instantiateCore(options.processorOptions.wasm);
    this.player = null;
    this.playing = false;
    this.songFrame = 0;
    this.sinceReport = 0;
    this.finishedAt = -1;
    this.muted = new Set();
    this.changed = true;
    this.port.onmessage = (event) => this.command(event.data);
  }

  command(message) {
    try {
      if (message.type === 'start') this.start(message.image);
      else if (message.type === 'resume') this.playing = this.player !== null;
      else if (message.type === 'pause') this.playing = false;
      else if (message.type === 'stop') this.stop();
      else if (message.type === 'mute') this.mute(message.channel, message.muted);
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

  stop() {
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
      finishedAt: this.finishedAt,
    });
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const frames = left.length;
    const blockFrame = currentFrame;
    const blockSong = this.songFrame;
    const playing = this.playing && this.player !== null;
    if (playing) {
      try {
        const samples = this.player.fill(frames);
        for (let i = 0; i < frames; i++) {
          left[i] = samples[2 * i] / 32768;
          if (right) right[i] = samples[2 * i + 1] / 32768;
        }
        this.songFrame += frames;
        if (this.finishedAt < 0 && this.player.finished()) this.finishedAt = this.songFrame;
      } catch (error) {
        this.stop();
        this.port.postMessage({ type: 'error', message: error.message });
      }
    }
    this.sinceReport += frames;
    if (this.changed || this.sinceReport >= REPORT_EVERY) this.report(blockFrame, blockSong, playing);
    return true;
  }
}

registerProcessor('qvb-player', QvbPlayerProcessor);
