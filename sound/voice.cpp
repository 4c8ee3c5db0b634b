#include "sound/voice.h"

#include <climits>

#include "sound/wave_tables.h"

namespace qvb {
namespace {

constexpr int kNoiseClock = 22050;  // the noise step is f * R / 22050 ...
constexpr int kNoiseTick = 880;     // ... and the table advances once per 880 of phase

// 16-bit two's-complement add: the sum wraps instead of clipping. The int sum
// cannot overflow (both parts are far below 2^30) and the narrowing is modular.
inline void addWrapped(std::int16_t& sample, int value) {
  sample = static_cast<std::int16_t>(sample + value);
}

inline void addWrapped(std::uint8_t& sample, int value) {
  sample = static_cast<std::uint8_t>(sample + value);
}

// A 16-bit value scaled to 8 bits, rounded to nearest.
inline int to8Bit(int value) { return (value + 128) >> 8; }

// Where one frame of a voice goes, for each output format. The 8-bit sinks add
// signed values; the Mixer turns the finished buffer into unsigned PCM.
struct Stereo16 {
  std::int16_t* buffer;
  void operator()(int k, int left, int right) const {
    addWrapped(buffer[2 * k], left);
    addWrapped(buffer[2 * k + 1], right);
  }
};
struct Mono16 {
  std::int16_t* buffer;
  void operator()(int k, int left, int right) const { addWrapped(buffer[k], (left + right) >> 1); }
};
struct Stereo8 {
  std::uint8_t* buffer;
  void operator()(int k, int left, int right) const {
    addWrapped(buffer[2 * k], to8Bit(left));
    addWrapped(buffer[2 * k + 1], to8Bit(right));
  }
};
struct Mono8 {
  std::uint8_t* buffer;
  void operator()(int k, int left, int right) const {
    addWrapped(buffer[k], to8Bit((left + right) >> 1));
  }
};

// Levels of the two pulse types: volume * 16 cut to 16 bits.
inline int pulseLevel(std::int32_t volume) {
  return static_cast<std::int16_t>(static_cast<std::uint32_t>(volume) << 4);
}
// Multipliers of the table types: volume >> 2 cut to 16 bits.
inline int tableMultiplier(std::int32_t volume) { return static_cast<std::int16_t>(volume >> 2); }

// The per-type frame loops. The phase is carried in 64 bits inside a call so
// that no add can overflow; between calls it always fits the 32-bit field.
template <class Sink>
void renderSquare(Voice& v, long long rate, Sink sink, int frames) {
  const int left = pulseLevel(v.volumeLeft);
  const int right = pulseLevel(v.volumeRight);
  const long long step = 2LL * v.frequency;
  long long phase = v.phase;
  int position = v.position & 1;
  int sign = position != 0 ? 1 : -1;
  for (int k = 0; k < frames; ++k) {
    sink(k, sign * left, sign * right);
    phase += step;
    while (phase > rate) {
      phase -= rate;
      position = (position + 1) & 1;
      sign = -sign;
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void renderPulse(Voice& v, long long rate, Sink sink, int frames) {
  const int left = pulseLevel(v.volumeLeft);
  const int right = pulseLevel(v.volumeRight);
  const long long step = 8LL * v.frequency;
  const int timbre = v.timbre;
  long long phase = v.phase;
  int position = v.position & 7;
  int sign = position < timbre ? -1 : 1;
  for (int k = 0; k < frames; ++k) {
    sink(k, sign * left, sign * right);
    phase += step;
    while (phase > rate) {
      phase -= rate;
      position = (position + 1) & 7;
      if (position == 0 || position == timbre) sign = -sign;
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void renderNoise(Voice& v, long long rate, Sink sink, int frames) {
  if (v.noiseTable == nullptr) return;
  const int left = tableMultiplier(v.volumeLeft);
  const int right = tableMultiplier(v.volumeRight);
  // Computed wide: f * R passes 2^31 above 48695 Hz at 44100 Hz.
  long long step = static_cast<long long>(v.frequency) * rate / kNoiseClock;
  if (step > INT_MAX) step = INT_MAX;
  const std::int8_t* table = v.noiseTable;
  long long phase = v.phase;
  int position = v.position & (kNoiseLength - 1);
  for (int k = 0; k < frames; ++k) {
    const int value = table[position];
    sink(k, value * left, value * right);
    phase += step;
    while (phase > 0) {
      position = (position + 1) & (kNoiseLength - 1);
      phase -= kNoiseTick;
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void renderSine(Voice& v, long long rate, Sink sink, int frames) {
  const int left = tableMultiplier(v.volumeLeft);
  const int right = tableMultiplier(v.volumeRight);
  const long long step = 256LL * v.frequency;
  long long phase = v.phase;
  int position = v.position & (kSineLength - 1);
  for (int k = 0; k < frames; ++k) {
    const int value = kSineTable[static_cast<std::size_t>(position)];
    sink(k, value * left, value * right);
    phase += step;
    while (phase > rate) {
      phase -= rate;
      position = (position + 1) & (kSineLength - 1);
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void renderWave(Voice& v, long long rate, Sink sink, int frames) {
  // A timbre outside the slot array counts as an empty slot.
  if (v.waveSlots == nullptr || v.timbre < 0 || v.timbre >= kWaveSlotCount) return;
  const WaveSamples* wave = (*v.waveSlots)[static_cast<std::size_t>(v.timbre)].get();
  if (wave == nullptr) return;
  const int left = tableMultiplier(v.volumeLeft);
  const int right = tableMultiplier(v.volumeRight);
  const long long step = 32LL * v.frequency;
  long long phase = v.phase;
  int position = v.position & (kWaveLength - 1);
  for (int k = 0; k < frames; ++k) {
    const int value = (*wave)[static_cast<std::size_t>(position)];
    sink(k, value * left, value * right);
    phase += step;
    while (phase > 0) {
      phase -= rate;
      position = (position + 1) & (kWaveLength - 1);
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void renderFrames(Voice& v, int sampleRate, Sink sink, int frames) {
  // A rate of 0 or below would never end the phase loops.
  if (sampleRate <= 0 || frames <= 0) return;
  const long long rate = sampleRate;
  switch (v.type) {
    case Square: renderSquare(v, rate, sink, frames); break;
    case Pulse: renderPulse(v, rate, sink, frames); break;
    case Noise: renderNoise(v, rate, sink, frames); break;
    case Sine: renderSine(v, rate, sink, frames); break;
    case Wave: renderWave(v, rate, sink, frames); break;
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

void Voice::Render(int sampleRate, std::int16_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Stereo16{buffer}, count / 2);
}

void Voice::Render16Mono(int sampleRate, std::int16_t* buffer, int count) {
  if (buffer == nullptr) return;
  renderFrames(*this, sampleRate, Mono16{buffer}, count);
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
