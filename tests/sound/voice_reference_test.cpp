// The voices against a second implementation: the plain frame-by-frame loops
// (one `while` per frame, exactly as the phase rules read) render the same
// random cases, and every sample, phase and position must agree.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sound/voice.h"
#include "sound/wave_tables.h"

namespace qvb {
namespace {

// ---- The reference: one frame at a time. ----

inline void addWrapped(std::int16_t& sample, int value) { sample = static_cast<std::int16_t>(sample + value); }
inline void addWrapped(std::uint8_t& sample, int value) { sample = static_cast<std::uint8_t>(sample + value); }
inline int to8Bit(int value) { return (value + 128) >> 8; }

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
  void operator()(int k, int left, int right) const { addWrapped(buffer[k], to8Bit((left + right) >> 1)); }
};

inline int pulseLevel(std::int32_t volume) {
  return static_cast<std::int16_t>(static_cast<std::uint32_t>(volume) << 4);
}
inline int tableMultiplier(std::int32_t volume) { return static_cast<std::int16_t>(volume >> 2); }

template <class Sink>
void refSquare(Voice& v, long long rate, Sink sink, int frames) {
  const int left = pulseLevel(v.volumeLeft), right = pulseLevel(v.volumeRight);
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
void refPulse(Voice& v, long long rate, Sink sink, int frames) {
  const int left = pulseLevel(v.volumeLeft), right = pulseLevel(v.volumeRight);
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
void refNoise(Voice& v, long long rate, Sink sink, int frames) {
  if (v.noiseTable == nullptr) return;
  const int left = tableMultiplier(v.volumeLeft), right = tableMultiplier(v.volumeRight);
  long long step = static_cast<long long>(v.frequency) * rate / 22050;
  if (step > INT_MAX) step = INT_MAX;
  long long phase = v.phase;
  int position = v.position & (kNoiseLength - 1);
  for (int k = 0; k < frames; ++k) {
    const int value = v.noiseTable[position];
    sink(k, value * left, value * right);
    phase += step;
    while (phase > 0) {
      position = (position + 1) & (kNoiseLength - 1);
      phase -= 880;
    }
  }
  v.phase = static_cast<std::int32_t>(phase);
  v.position = position;
}

template <class Sink>
void refSine(Voice& v, long long rate, Sink sink, int frames) {
  const int left = tableMultiplier(v.volumeLeft), right = tableMultiplier(v.volumeRight);
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
void refWave(Voice& v, long long rate, Sink sink, int frames) {
  if (v.waveSlots == nullptr || v.timbre < 0 || v.timbre >= kWaveSlotCount) return;
  const WaveSamples* wave = (*v.waveSlots)[static_cast<std::size_t>(v.timbre)].get();
  if (wave == nullptr) return;
  const int left = tableMultiplier(v.volumeLeft), right = tableMultiplier(v.volumeRight);
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
void refFrames(Voice& v, int sampleRate, Sink sink, int frames) {
  if (sampleRate <= 0 || frames <= 0) return;
  switch (v.type) {
    case Square: refSquare(v, sampleRate, sink, frames); break;
    case Pulse: refPulse(v, sampleRate, sink, frames); break;
    case Noise: refNoise(v, sampleRate, sink, frames); break;
    case Sine: refSine(v, sampleRate, sink, frames); break;
    case Wave: refWave(v, sampleRate, sink, frames); break;
    default: break;
  }
}

enum Format { kStereo16, kMono16, kStereo8, kMono8 };

// Renders one call of either implementation into `bytes`, the buffer of that format.
void renderCall(Voice& v, bool reference, Format format, int rate, std::vector<std::uint8_t>& bytes,
                int count) {
  auto* wide = reinterpret_cast<std::int16_t*>(bytes.data());
  std::uint8_t* narrow = bytes.data();
  switch (format) {
    case kStereo16:
      if (reference) refFrames(v, rate, Stereo16{wide}, count / 2);
      else v.Render(rate, wide, count);
      break;
    case kMono16:
      if (reference) refFrames(v, rate, Mono16{wide}, count);
      else v.Render16Mono(rate, wide, count);
      break;
    case kStereo8:
      if (reference) refFrames(v, rate, Stereo8{narrow}, count / 2);
      else v.Render8Stereo(rate, narrow, count);
      break;
    case kMono8:
      if (reference) refFrames(v, rate, Mono8{narrow}, count);
      else v.Render8Mono(rate, narrow, count);
      break;
  }
}

// ---- Random cases, weighted towards the edges. ----

struct Random {
  std::mt19937 engine;
  explicit Random(unsigned seed) : engine(seed) {}
  int below(int n) { return static_cast<int>(engine() % static_cast<unsigned>(n)); }
  template <class T, std::size_t N>
  T pick(const T (&values)[N]) { return values[static_cast<std::size_t>(below(static_cast<int>(N)))]; }
  std::int32_t any() { return static_cast<std::int32_t>(engine()); }

  std::uint16_t frequency() {
    static const int kEdges[] = {0, 1, 2, 3, 439, 440, 441, 880, 1378, 2756, 11025, 22050, 22051,
                                 32767, 32768, 44100, 48695, 48696, 65534, 65535};
    switch (below(3)) {
      case 0: return static_cast<std::uint16_t>(pick(kEdges));
      case 1: return static_cast<std::uint16_t>(below(4000));
      default: return static_cast<std::uint16_t>(below(65536));
    }
  }
  std::int32_t volume() {
    static const std::int32_t kEdges[] = {0, 0, 0, 1, 3, 4, 15, 255, 2047, 2048, 4096, -1, -4,
                                          INT_MAX, INT_MIN, 131071};
    return below(4) == 0 ? any() : pick(kEdges);
  }
  std::int32_t timbre() {
    static const std::int32_t kEdges[] = {0, 1, 3, 7, 8, 9, -1, 255, 256, INT_MIN, INT_MAX};
    return below(2) == 0 ? below(8) : pick(kEdges);
  }
  std::int32_t phase(int rate) {
    static const std::int32_t kEdges[] = {0, 1, -1, -879, -880, -881, INT_MIN, INT_MAX};
    switch (below(4)) {
      case 0: return pick(kEdges);
      case 1: return rate - below(3) + 1;
      case 2: return -below(rate + 2);
      default: return any() % (4 * rate);
    }
  }
  int count() {
    static const int kEdges[] = {0, 1, 2, 3, 4, 5, 7, 2047, 2048, 2049, 4096};
    return below(2) == 0 ? pick(kEdges) : below(3000);
  }
};

void fillWave(Random& random, WaveSamples& wave) {
  for (auto& s : wave) s = static_cast<std::int8_t>(random.below(256) - 128);
}

// One case: a voice in a random state and a few calls of random length, with
// fields and wave slots changed between calls as the sequencer would.
void checkCase(Random& random, Format format, int rate, const std::string& name) {
  WaveSlots slots;
  for (int i : {0, 1, 3, 255}) {
    slots[static_cast<std::size_t>(i)] = std::make_unique<WaveSamples>();
    fillWave(random, *slots[static_cast<std::size_t>(i)]);
  }
  Voice fast(&slots);
  fast.SetType(static_cast<unsigned>(random.below(5)));
  auto vary = [&](Voice& v) {
    v.frequency = random.frequency();
    v.volumeLeft = random.volume();
    v.volumeRight = random.below(3) == 0 ? v.volumeLeft : random.volume();
    if (v.type == Pulse || v.type == Wave) v.timbre = random.timbre();
  };
  vary(fast);
  if (random.below(2) == 0) {
    fast.phase = random.phase(rate);
    fast.position = random.below(2) == 0 ? random.any() : random.below(4096);
  }
  Voice slow = fast;
  const int calls = 1 + random.below(4);
  for (int call = 0; call < calls; ++call) {
    const int count = random.count();
    std::vector<std::uint8_t> a(2 * static_cast<std::size_t>(count) + 8);
    for (auto& byte : a) byte = static_cast<std::uint8_t>(random.below(256));
    std::vector<std::uint8_t> b = a;
    renderCall(fast, false, format, rate, a, count);
    renderCall(slow, true, format, rate, b, count);
    const std::string where = name + " call " + std::to_string(call) + " type " +
                              std::to_string(fast.type) + " f " + std::to_string(fast.frequency) +
                              " count " + std::to_string(count);
    ASSERT_EQ(a, b) << where;
    ASSERT_EQ(fast.phase, slow.phase) << where;
    ASSERT_EQ(fast.position, slow.position) << where;
    if (random.below(2) == 0) {
      vary(fast);
      slow.frequency = fast.frequency;
      slow.volumeLeft = fast.volumeLeft;
      slow.volumeRight = fast.volumeRight;
      slow.timbre = fast.timbre;
    }
    if (random.below(4) == 0) fillWave(random, *slots[0]);
  }
}

struct Setting {
  Format format;
  int rate;
  const char* name;
};

class VoiceMatchesReference : public testing::TestWithParam<Setting> {};

TEST_P(VoiceMatchesReference, OnRandomCases) {
  const Setting s = GetParam();
  Random random(1000u + static_cast<unsigned>(s.format) * 2u + (s.rate == 22050 ? 1u : 0u));
  for (int i = 0; i < 600; ++i) {
    checkCase(random, s.format, s.rate, "case " + std::to_string(i));
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, VoiceMatchesReference,
    testing::Values(Setting{kStereo16, 44100, "Stereo16At44100"}, Setting{kStereo16, 22050, "Stereo16At22050"},
                    Setting{kMono16, 44100, "Mono16At44100"}, Setting{kMono16, 22050, "Mono16At22050"},
                    Setting{kStereo8, 44100, "Stereo8At44100"}, Setting{kStereo8, 22050, "Stereo8At22050"},
                    Setting{kMono8, 44100, "Mono8At44100"}, Setting{kMono8, 22050, "Mono8At22050"}),
    [](const testing::TestParamInfo<Setting>& param) { return std::string(param.param.name); });

// Rates no device offers follow the same rules: a rate of 1 advances with
// nearly every step, and a rate near 10^9 drives the noise step to its cap.
// The reference walks every advance one at a time, so the cases are chosen
// to keep its work small: low pitches at low rates, short capped noise calls.
TEST(VoiceMatchesReference, AtOddRatesAndTheNoiseStepCap) {
  Random r(77);
  for (int rate : {1, 7, 880, 48000, 1000000000, INT_MAX}) {
    const bool low = rate < 22050;
    const bool huge = rate >= 1000000000;
    for (int i = 0; i < 150; ++i) {
      WaveSlots slots;
      slots[0] = std::make_unique<WaveSamples>();
      fillWave(r, *slots[0]);
      Voice fast(&slots);
      fast.SetType(static_cast<unsigned>(r.below(5)));
      fast.frequency = low ? static_cast<std::uint16_t>(r.below(4 * rate + 2)) : r.frequency();
      fast.volumeLeft = r.volume();
      fast.volumeRight = r.volume();
      if (r.below(2) == 0) fast.phase = low ? r.any() % 1000000 : r.any();
      fast.position = r.any();
      Voice slow = fast;
      const int count = huge && fast.type == Noise ? r.below(4) : low ? r.below(300) : r.count();
      std::vector<std::uint8_t> a(2 * static_cast<std::size_t>(count) + 8, 0x55);
      std::vector<std::uint8_t> b = a;
      renderCall(fast, false, kStereo16, rate, a, count);
      renderCall(slow, true, kStereo16, rate, b, count);
      ASSERT_EQ(a, b) << "rate " << rate << " case " << i;
      ASSERT_EQ(fast.phase, slow.phase) << "rate " << rate << " case " << i;
      ASSERT_EQ(fast.position, slow.position) << "rate " << rate << " case " << i;
    }
  }
}

}  // namespace
}  // namespace qvb
