#include "sound/voice.h"

#include <algorithm>
#include <climits>

#include "sound/wave_tables.h"

namespace qvb {
namespace {

constexpr int kNoiseClock = 22050;  // the noise step is f * R / 22050 ...
constexpr int kNoiseTick = 880;     // ... and the table advances once per 880 of phase

// A 16-bit value scaled to 8 bits, rounded to nearest.
inline int to8Bit(int value) { return (value + 128) >> 8; }

// Where a voice's signal goes, for each output format: `add` puts one constant
// frame value on frames k .. k + count - 1, `one` on frame k alone. All adds wrap (unsigned lanes), so
// loud voices sum modulo 2^16 or 2^8. The 8-bit sinks add signed values; the
// Mixer turns the finished buffer into unsigned PCM.
struct Stereo16 {
  std::uint16_t* out;
  void one(int k, int left, int right) const {
    out[2 * k] = static_cast<std::uint16_t>(out[2 * k] + left);
    out[2 * k + 1] = static_cast<std::uint16_t>(out[2 * k + 1] + right);
  }
  void add(int k, int count, int left, int right) const {
    const auto l = static_cast<std::uint16_t>(left);
    const auto r = static_cast<std::uint16_t>(right);
    std::uint16_t* p = out + 2 * k;
    for (int i = 0; i < count; ++i) {
      p[2 * i] = static_cast<std::uint16_t>(p[2 * i] + l);
      p[2 * i + 1] = static_cast<std::uint16_t>(p[2 * i + 1] + r);
    }
  }
};
struct Mono16 {
  std::uint16_t* out;
  void one(int k, int left, int right) const {
    out[k] = static_cast<std::uint16_t>(out[k] + ((left + right) >> 1));
  }
  void add(int k, int count, int left, int right) const {
    const auto v = static_cast<std::uint16_t>((left + right) >> 1);
    std::uint16_t* p = out + k;
    for (int i = 0; i < count; ++i) p[i] = static_cast<std::uint16_t>(p[i] + v);
  }
};
struct Stereo8 {
  std::uint8_t* out;
  void one(int k, int left, int right) const {
    out[2 * k] = static_cast<std::uint8_t>(out[2 * k] + to8Bit(left));
    out[2 * k + 1] = static_cast<std::uint8_t>(out[2 * k + 1] + to8Bit(right));
  }
  void add(int k, int count, int left, int right) const {
    const auto l = static_cast<std::uint8_t>(to8Bit(left));
    const auto r = static_cast<std::uint8_t>(to8Bit(right));
    std::uint8_t* p = out + 2 * k;
    for (int i = 0; i < count; ++i) {
      p[2 * i] = static_cast<std::uint8_t>(p[2 * i] + l);
      p[2 * i + 1] = static_cast<std::uint8_t>(p[2 * i + 1] + r);
    }
  }
};
struct Mono8 {
  std::uint8_t* out;
  void one(int k, int left, int right) const {
    out[k] = static_cast<std::uint8_t>(out[k] + to8Bit((left + right) >> 1));
  }
  void add(int k, int count, int left, int right) const {
    const auto v = static_cast<std::uint8_t>(to8Bit((left + right) >> 1));
    std::uint8_t* p = out + k;
    for (int i = 0; i < count; ++i) p[i] = static_cast<std::uint8_t>(p[i] + v);
  }
};

// The phase rule of every type, moved so that each one tests "above 0": x is
// the phase minus the type's threshold (the rate for square, pulse and sine,
// 0 for noise and wave), every frame adds `step`, and while x is above 0 the
// counter advances and x drops by `drop`. After the first advance x stays in
// (-drop, 0]. The counter is the waveform position, extended by bits the
// level needs beyond it (the pulse's sign flips), wrapped by `mask`. Carried
// in 64 bits: no add can overflow within a call.
struct Walk {
  long long x;
  long long step;
  long long drop;
  unsigned counter;
  unsigned mask;

  // Applies the advances that x above 0 asks for, in one go.
  void settle() {
    if (x <= 0) return;
    // Narrow division when it fits: a silent voice pays for nothing else.
    const auto over = static_cast<std::uint64_t>(x + drop - 1);
    const auto narrowDrop = static_cast<std::uint32_t>(drop);
    const auto advances = static_cast<long long>(
        over <= UINT32_MAX ? static_cast<std::uint32_t>(over) / narrowDrop : over / narrowDrop);
    x -= advances * drop;
    counter = (counter + static_cast<unsigned>(advances & mask)) & mask;
  }
  // The same frames without output: the sum of the steps then the advances
  // give the state that frame-by-frame stepping reaches.
  void skip(int frames) {
    x += static_cast<long long>(frames) * step;
    settle();
  }
};

// Below this many frames per value on average, stepping frame by frame beats
// working out the length of every run.
constexpr long long kShortestRun = 4;

// Calls this short (the mixer cuts spans at every timer) skip the set-up of
// the runs.
constexpr int kShortCall = 8;

// Renders `frames` frames of a walk: level(counter, left, right) gives the
// frame value at a counter, and each stretch of frames between two advances
// is added to the sink as one constant.
template <class Sink, class Level>
void play(Walk& w, Sink sink, int frames, Level level) {
  int left = 0, right = 0;
  int k = 0;
  if (frames <= kShortCall) {
    // A few frames: one at a time, dividing only for a frame that advances
    // more than twice.
    for (; k < frames; ++k) {
      level(w.counter, left, right);
      sink.one(k, left, right);
      w.x += w.step;
      for (int n = 0; n < 2 && w.x > 0; ++n) {
        w.x -= w.drop;
        w.counter = (w.counter + 1) & w.mask;
      }
      w.settle();
    }
    return;
  }
  // From any phase outside the steady range: the frames up to the first
  // advance in closed form.
  if (w.x <= -w.drop || w.x > 0) {
    long long run = frames;
    if (w.x + w.step > 0) run = 1;
    else if (w.step > 0) run = std::min<long long>((-w.x) / w.step + 1, frames);
    level(w.counter, left, right);
    sink.add(0, static_cast<int>(run), left, right);
    k = static_cast<int>(run);
    w.x += run * w.step;
    w.settle();
  }
  if (k >= frames) return;
  if (w.step == 0) {
    level(w.counter, left, right);
    sink.add(k, frames - k, left, right);
    return;
  }
  // Now -drop < x <= 0, and -x and the step below fit 32 bits (the rate or
  // 880 bound them), so the divisions here are narrow.
  long long x = w.x;
  const long long drop = w.drop;
  unsigned counter = w.counter;
  if (w.step * kShortestRun <= drop) {
    // At most one advance per frame: runs of one value.
    const auto step = static_cast<std::uint32_t>(w.step);
    while (k < frames) {
      const std::uint32_t toAdvance = static_cast<std::uint32_t>(-x) / step + 1;
      const auto run = static_cast<int>(
          std::min(toAdvance, static_cast<std::uint32_t>(frames - k)));
      level(counter, left, right);
      sink.add(k, run, left, right);
      k += run;
      x += static_cast<long long>(run) * step;
      if (x > 0) {
        x -= drop;
        counter = (counter + 1) & w.mask;
      }
    }
  } else {
    // Short runs, or several advances a frame: quotient and remainder of the
    // step. The carry's branch follows the pitch's pattern and predicts well.
    // Both fit 32 bits: the step is at most INT_MAX and so is the drop.
    const auto step = static_cast<std::uint32_t>(w.step);
    const auto narrowDrop = static_cast<std::uint32_t>(drop);
    const unsigned whole = (step / narrowDrop) & w.mask;
    const long long rest = step % narrowDrop;
    for (; k < frames; ++k) {
      level(counter, left, right);
      sink.one(k, left, right);
      x += rest;
      counter += whole;
      if (x > 0) {
        x -= drop;
        ++counter;
      }
      counter &= w.mask;
    }
  }
  w.x = x;
  w.counter = counter;
}

// One voice's walk over one call: set up from the fields, rendered (or only
// advanced when the voice is silent), then written back.
template <class Sink, class Level>
void renderWalk(Voice& v, Walk w, long long threshold, unsigned positionMask, bool silent,
                Sink sink, int frames, Level level) {
  w.x = v.phase - threshold;
  if (silent) w.skip(frames);
  else play(w, sink, frames, level);
  v.phase = static_cast<std::int32_t>(w.x + threshold);
  v.position = static_cast<std::int32_t>(w.counter & positionMask);
}

template <class Sink>
void renderSquare(Voice& v, long long rate, Sink sink, int frames) {
  const int l = pulseLevel(v.volumeLeft);
  const int r = pulseLevel(v.volumeRight);
  const Walk w{0, 2LL * v.frequency, rate, static_cast<unsigned>(v.position) & 1u, 1u};
  renderWalk(v, w, rate, 1u, l == 0 && r == 0, sink, frames, [&](unsigned c, int& left, int& right) {
    left = c != 0 ? l : -l;
    right = c != 0 ? r : -r;
  });
}

template <class Sink>
void renderPulse(Voice& v, long long rate, Sink sink, int frames) {
  const int l = pulseLevel(v.volumeLeft);
  const int r = pulseLevel(v.volumeRight);
  const int timbre = v.timbre;
  const auto start = static_cast<unsigned>(v.position) & 7u;
  // The sign flips when the position wraps to 0 and when it reaches the
  // timbre. With a timbre of 1..7 that makes it a function of the position;
  // otherwise only the wraps flip it, counted in bit 3 of the counter.
  const bool inCycle = timbre >= 1 && timbre <= 7;
  const bool startLow = static_cast<int>(start) < timbre;
  const Walk w{0, 8LL * v.frequency, rate, start, 15u};
  renderWalk(v, w, rate, 7u, l == 0 && r == 0, sink, frames, [&](unsigned c, int& left, int& right) {
    const bool low = inCycle ? static_cast<int>(c & 7u) < timbre : startLow != ((c & 8u) != 0);
    left = low ? -l : l;
    right = low ? -r : r;
  });
}

template <class Sink>
void renderTable(Voice& v, const std::int8_t* table, unsigned mask, long long step,
                 long long drop, long long threshold, Sink sink, int frames) {
  const int l = tableMultiplier(v.volumeLeft);
  const int r = tableMultiplier(v.volumeRight);
  const Walk w{0, step, drop, static_cast<unsigned>(v.position) & mask, mask};
  renderWalk(v, w, threshold, mask, l == 0 && r == 0, sink, frames,
             [&](unsigned c, int& left, int& right) {
               const int value = table[c];
               left = value * l;
               right = value * r;
             });
}

template <class Sink>
void renderFrames(Voice& v, int sampleRate, Sink sink, int frames) {
  // A rate of 0 or below would never end the phase loops.
  if (sampleRate <= 0 || frames <= 0) return;
  const long long rate = sampleRate;
  switch (v.type) {
    case Square: renderSquare(v, rate, sink, frames); break;
    case Pulse: renderPulse(v, rate, sink, frames); break;
    case Noise: {
      if (v.noiseTable == nullptr) return;
      // Computed wide: f * R passes 2^31 above 48695 Hz at 44100 Hz.
      const long long step = std::min<long long>(v.frequency * rate / kNoiseClock, INT_MAX);
      renderTable(v, v.noiseTable, kNoiseLength - 1, step, kNoiseTick, 0, sink, frames);
      break;
    }
    case Sine:
      renderTable(v, kSineTable.data(), kSineLength - 1, 256LL * v.frequency, rate, rate, sink,
                  frames);
      break;
    case Wave: {
      // A timbre outside the slot array counts as an empty slot; an empty
      // slot renders nothing and stands still.
      if (v.waveSlots == nullptr || v.timbre < 0 || v.timbre >= kWaveSlotCount) return;
      const WaveSamples* wave = (*v.waveSlots)[static_cast<std::size_t>(v.timbre)].get();
      if (wave == nullptr) return;
      renderTable(v, wave->data(), kWaveLength - 1, 32LL * v.frequency, rate, 0, sink, frames);
      break;
    }
    default: break;
  }
}

}  // namespace

Voice::Voice(const WaveSlots* slots) : noiseTable(kNoiseTable.data()), waveSlots(slots) {
  SetType(Square);
  volumeLeft = 0;
  volumeRight = 0;
  frequency = 440;
}

bool Voice::SetType(unsigned newType) {
  phase = 0;
  position = 0;
  if (newType > Wave) return false;
  if (newType == Pulse) timbre = 3;
  if (newType == Wave) timbre = 0;
  type = static_cast<std::int32_t>(newType);
  return true;
}

// The 16-bit buffers are added to as unsigned lanes, the same storage as the
// signed samples (so the adds wrap by definition).
void Voice::Render(int sampleRate, std::int16_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Stereo16{reinterpret_cast<std::uint16_t*>(buffer)}, count / 2);
}

void Voice::Render16Mono(int sampleRate, std::int16_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Mono16{reinterpret_cast<std::uint16_t*>(buffer)}, count);
}

void Voice::Render8Stereo(int sampleRate, std::uint8_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Stereo8{buffer}, count / 2);
}

void Voice::Render8Mono(int sampleRate, std::uint8_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Mono8{buffer}, count);
}

}  // namespace qvb
