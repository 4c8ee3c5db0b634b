#include "sound/voice.h"

#include <gtest/gtest.h>

#include <vector>

#include "sound/wave_tables.h"

namespace qvb {
namespace {

struct Rendered {
  std::vector<int> left, right;
};

// Renders `frames` frames into a zeroed stereo buffer, in calls of `chunk` frames.
Rendered render(Voice& voice, int frames, int rate = 44100, int chunk = 0) {
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(2 * frames), 0);
  if (chunk <= 0) chunk = frames;
  for (int done = 0; done < frames; done += chunk) {
    const int n = std::min(chunk, frames - done);
    voice.Render(rate, buffer.data() + 2 * done, 2 * n);
  }
  Rendered out;
  for (int k = 0; k < frames; ++k) {
    out.left.push_back(buffer[static_cast<std::size_t>(2 * k)]);
    out.right.push_back(buffer[static_cast<std::size_t>(2 * k + 1)]);
  }
  return out;
}

// Lengths of the runs of equal values, with the value of each run.
std::vector<std::pair<int, int>> runs(const std::vector<int>& values) {
  std::vector<std::pair<int, int>> out;
  for (int v : values) {
    if (out.empty() || out.back().first != v) out.push_back({v, 0});
    ++out.back().second;
  }
  return out;
}

Voice loudVoice(unsigned type, const WaveSlots* slots = nullptr, int volume = 15) {
  Voice v(slots);
  v.SetType(type);
  v.volumeLeft = volume;
  v.volumeRight = volume;
  return v;
}

TEST(Voice, NewVoiceIsASilentSquareAt440WhosePhaseRuns) {
  Voice v(nullptr);
  EXPECT_EQ(v.type, Square);
  EXPECT_EQ(v.frequency, 440);
  EXPECT_EQ(v.volumeLeft, 0);
  EXPECT_EQ(v.volumeRight, 0);
  EXPECT_EQ(v.noiseTable, kNoiseTable.data());
  const Rendered r = render(v, 60);
  for (int k = 0; k < 60; ++k) ASSERT_EQ(r.left[static_cast<std::size_t>(k)], 0);
  EXPECT_EQ(v.position, 1);  // 60 * 880 passed 44100 once
  EXPECT_EQ(v.phase, 60 * 880 - 44100);
}

TEST(Voice, SquareRunsAre51Then50Then50) {
  Voice v = loudVoice(Square);
  const Rendered r = render(v, 251);
  const std::vector<std::pair<int, int>> expected = {
      {-240, 51}, {240, 50}, {-240, 50}, {240, 50}, {-240, 50}};
  EXPECT_EQ(runs(r.left), expected);
  EXPECT_EQ(r.left, r.right);
}

TEST(Voice, PulseRunsFollowTimbreThree) {
  Voice v = loudVoice(Pulse);
  EXPECT_EQ(v.timbre, 3);
  const Rendered r = render(v, 38 + 63 + 37 + 63 + 38 + 62 + 1);
  const std::vector<std::pair<int, int>> expected = {{-240, 38}, {240, 63}, {-240, 37}, {240, 63},
                                                     {-240, 38}, {240, 62}, {-240, 1}};
  EXPECT_EQ(runs(r.left), expected);
}

TEST(Voice, SineFirstFramesAtFullVolume) {
  Voice v = loudVoice(Sine, nullptr, 255);
  const Rendered r = render(v, 8);
  const std::vector<int> expected = {0, 189, 441, 630, 945, 1134, 1449, 1575};
  EXPECT_EQ(r.left, expected);
  EXPECT_EQ(r.right, expected);
}

TEST(Voice, WaveAdvancesAfterTheFirstFrame) {
  WaveSlots slots;
  slots[0] = std::make_unique<WaveSamples>();
  for (int i = 0; i < kWaveLength; ++i) (*slots[0])[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(i);
  Voice v = loudVoice(Wave, &slots, 4);  // multiplier 1: the output is the sample itself
  EXPECT_EQ(v.timbre, 0);
  const Rendered r = render(v, 8);
  const std::vector<int> expected = {0, 1, 1, 1, 2, 2, 2, 3};
  EXPECT_EQ(r.left, expected);
}

TEST(Voice, NoisePlaysOneEntryPerFrameAt44100AndEverySecondFrameAt22050) {
  const std::vector<int> head = {126, -80, -28, -101, -33, 116, -74, -82};
  Voice fast = loudVoice(Noise, nullptr, 8);  // multiplier 2
  const Rendered f = render(fast, 8);
  for (std::size_t k = 0; k < 8; ++k) EXPECT_EQ(f.left[k], 2 * head[k]) << k;

  Voice slow = loudVoice(Noise, nullptr, 8);
  const Rendered s = render(slow, 7, 22050);
  const std::vector<int> entries = {0, 1, 1, 2, 2, 3, 3};
  for (std::size_t k = 0; k < entries.size(); ++k) {
    EXPECT_EQ(s.left[k], 2 * head[static_cast<std::size_t>(entries[k])]) << k;
  }
}

TEST(Voice, CallBoundariesDoNotChangeTheSignal) {
  WaveSlots slots;
  slots[0] = std::make_unique<WaveSamples>();
  for (int i = 0; i < kWaveLength; ++i) (*slots[0])[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(7 * i - 100);
  for (unsigned type : {0u, 1u, 2u, 3u, 4u}) {
    for (int rate : {44100, 22050}) {
      Voice whole = loudVoice(type, &slots, 200);
      Voice pieces = loudVoice(type, &slots, 200);
      whole.frequency = pieces.frequency = 1234;
      const Rendered a = render(whole, 3001, rate);
      const Rendered b = render(pieces, 3001, rate, 7);
      EXPECT_EQ(a.left, b.left) << "type " << type << " rate " << rate;
      EXPECT_EQ(whole.phase, pieces.phase);
      EXPECT_EQ(whole.position, pieces.position);
    }
  }
}

TEST(Voice, PulseWithTimbreZeroStartsEachCallHigh) {
  Voice one = loudVoice(Pulse);
  one.timbre = 0;
  const Rendered whole = render(one, 200);
  EXPECT_EQ(whole.left[0], 240);
  EXPECT_EQ(whole.left[150], -240);  // flipped once, when the position wrapped to 0

  Voice two = loudVoice(Pulse);
  two.timbre = 0;
  render(two, 150);
  const Rendered rest = render(two, 1);
  EXPECT_EQ(rest.left[0], 240);  // a new call starts high whatever the position

  Voice wide = loudVoice(Pulse);
  wide.timbre = 9;
  EXPECT_EQ(render(wide, 1).left[0], -240);
}

TEST(Voice, FrequencyZeroHoldsStill) {
  Voice square = loudVoice(Square);
  square.frequency = 0;
  const Rendered s = render(square, 500);
  EXPECT_EQ(runs(s.left), (std::vector<std::pair<int, int>>{{-240, 500}}));
  EXPECT_EQ(square.phase, 0);

  Voice noise = loudVoice(Noise, nullptr, 4);
  noise.frequency = 0;
  const Rendered n = render(noise, 10);
  EXPECT_EQ(runs(n.left), (std::vector<std::pair<int, int>>{{126, 10}}));
  EXPECT_EQ(noise.position, 0);
}

TEST(Voice, EmptyWaveSlotLeavesBufferAndPositionAlone) {
  WaveSlots slots;
  Voice v = loudVoice(Wave, &slots, 4);
  v.timbre = 5;
  std::vector<std::int16_t> buffer(20, 77);
  v.Render(44100, buffer.data(), 20);
  EXPECT_EQ(buffer, std::vector<std::int16_t>(20, 77));
  EXPECT_EQ(v.position, 0);
  EXPECT_EQ(v.phase, 0);

  slots[5] = std::make_unique<WaveSamples>();
  (*slots[5])[0] = 9;
  (*slots[5])[1] = 10;
  EXPECT_EQ(render(v, 2).left, (std::vector<int>{9, 10}));

  Voice outside = loudVoice(Wave, &slots, 4);
  outside.timbre = 300;  // past the slot array: treated as empty
  std::vector<std::int16_t> untouched(4, 0);
  outside.Render(44100, untouched.data(), 4);
  EXPECT_EQ(untouched, std::vector<std::int16_t>(4, 0));

  Voice noSlots = loudVoice(Wave, nullptr, 4);
  noSlots.Render(44100, untouched.data(), 4);
  EXPECT_EQ(untouched, std::vector<std::int16_t>(4, 0));
}

TEST(Voice, NoiseWithoutTableRendersNothing) {
  Voice v = loudVoice(Noise);
  v.noiseTable = nullptr;
  std::vector<std::int16_t> buffer(8, 5);
  v.Render(44100, buffer.data(), 8);
  EXPECT_EQ(buffer, std::vector<std::int16_t>(8, 5));
}

TEST(Voice, SumsWrapAroundWithoutClipping) {
  struct Case {
    unsigned type;
    int volume;
    std::int16_t before;
    std::int16_t after;
  };
  const Case cases[] = {
      {Square, 255, -30000, 31456},  // -30000 - 4080 wraps to 31456
      {Square, 255, 0, -4080},
      {Square, 2048, 0, -32768},     // level 32768 cut to -32768, negated: +32768 wraps
      {Square, 4096, 1, 1},          // level 65536 cut to 0
      {Noise, 255, 30000, -27598},   // 126 * 63 = 7938; 37938 - 65536
  };
  for (const Case& c : cases) {
    Voice v = loudVoice(c.type, nullptr, c.volume);
    std::int16_t frame[2] = {c.before, c.before};
    v.Render(44100, frame, 2);
    EXPECT_EQ(frame[0], c.after) << "type " << c.type << " volume " << c.volume;
  }
}

TEST(Voice, SetTypeResetsAndSetsTimbreForTheTypesThatReadIt) {
  struct Case {
    unsigned type;
    bool accepted;
    std::int32_t typeAfter;
    std::int32_t timbreAfter;
  };
  const Case cases[] = {{0, true, Square, 42}, {1, true, Pulse, 3},  {2, true, Noise, 42},
                        {3, true, Sine, 42},   {4, true, Wave, 0},   {5, false, Sine, 42},
                        {7, false, Sine, 42},  {0xFFFFFFFFu, false, Sine, 42}};
  for (const Case& c : cases) {
    Voice v(nullptr);
    v.SetType(Sine);
    v.timbre = 42;
    v.phase = 1000;
    v.position = 17;
    EXPECT_EQ(v.SetType(c.type), c.accepted) << c.type;
    EXPECT_EQ(v.type, c.typeAfter) << c.type;
    EXPECT_EQ(v.timbre, c.timbreAfter) << c.type;
    EXPECT_EQ(v.phase, 0);
    EXPECT_EQ(v.position, 0);
  }
}

TEST(Voice, NoiseStepStaysSaneAtTheTopFrequency) {
  // 65535 * 44100 passes 2^31: the step must still be positive and advance the table.
  Voice v = loudVoice(Noise, nullptr, 4);
  v.frequency = 65535;
  render(v, 3);
  EXPECT_EQ(v.position, (3 * 131070 + 879) / 880 % kNoiseLength);
  EXPECT_LE(v.phase, 0);
}

TEST(Voice, RateOfZeroRendersNothing) {
  for (unsigned type : {0u, 1u, 2u, 3u, 4u}) {
    Voice v = loudVoice(type);
    std::int16_t frame[2] = {0, 0};
    v.Render(0, frame, 2);
    v.Render(-44100, frame, 2);
    EXPECT_EQ(frame[0], 0);
    EXPECT_EQ(v.phase, 0);
  }
}

// The other formats carry the same signal: mono is the mean of left and right,
// 8-bit is the 16-bit value rounded to its top byte (the Mixer adds the 128 offset).
TEST(Voice, OtherFormatsCarryTheSameSignal) {
  Voice stereo = loudVoice(Square, nullptr, 255);
  stereo.volumeRight = 85;  // left -4080, right -1360 on the first frame
  Voice mono16 = stereo, stereo8 = stereo, mono8 = stereo;

  std::int16_t m16[3] = {0, 0, 0};
  mono16.Render16Mono(44100, m16, 3);
  EXPECT_EQ(m16[0], (-4080 - 1360) / 2);

  std::uint8_t s8[4] = {0, 0, 0, 0};
  stereo8.Render8Stereo(44100, s8, 3);  // odd count: one whole frame
  EXPECT_EQ(static_cast<std::int8_t>(s8[0]), -16);  // -4080 / 256 = -15.94
  EXPECT_EQ(static_cast<std::int8_t>(s8[1]), -5);   // -1360 / 256 = -5.31
  EXPECT_EQ(s8[2], 0);

  std::uint8_t m8[2] = {0, 0};
  mono8.Render8Mono(44100, m8, 2);
  EXPECT_EQ(static_cast<std::int8_t>(m8[0]), -11);  // -2720 / 256 = -10.6
  EXPECT_EQ(mono8.phase, 2 * 880);
}

}  // namespace
}  // namespace qvb
