// Pitch and the per-frame effects: period mode and detune, release, sweep
// and the vibrato state machine. Period frequencies are 55930 / period by
// integer division: 126 -> 443, 127 -> 440, 128 -> 436, 4095 -> 13.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "song/sequencer.h"
#include "tests/song/sequencer_fixture.h"

namespace qvb {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::SequencerSong;

TEST(SequencerPitch, NoteOnFrequencyInBothModes) {
  const struct {
    const char* name;
    Bytes bytes;  // followed by one long note, so tick 1 reads everything
    std::int32_t period;
    std::uint16_t frequency;
  } cases[] = {
      {"PeriodModeNote69", {0xFE, 0x80, 0x45}, 127, 440},
      {"PeriodModeDetuneUp", {0xFE, 0x80, 0x83, 0x01, 0x45}, 126, 443},
      {"PeriodModeDetuneDown", {0xFE, 0x80, 0x83, 0xFF, 0x45}, 128, 436},
      {"PlainNote69", {0x45}, 0, 440},
      {"PlainDetuneDown", {0x83, 0xFB, 0x45}, 0, 435},
      {"PlainDetuneUp", {0x83, 0x7F, 0x45}, 0, 567},
      {"PlainLowestNoteWrapsBelowZero", {0x83, 0x80, 0x00}, 0, 65416},  // 8 - 128
      {"PlainHighestNote", {0x7F}, 0, 12543},
      {"PeriodModeOutsideTableIsZero", {0xFE, 0x80, 0x00}, 0, 65535},
      {"PeriodModeClampsBelowZero", {0xFE, 0x80, 0x83, 0x05, 0x7F}, 0, 65535},
      {"PeriodModeLowestTableNote", {0xFE, 0x80, 0x83, 0x80, 0x0C}, 3549, 15},  // 3421 + 128
  };
  for (const auto& c : cases) {
    Bytes bytes = c.bytes;
    bytes.insert(bytes.end(), {0x10, 0xFF});
    SequencerSong song({bytes});
    song.tick();
    EXPECT_EQ(song.track().period, c.period) << c.name;
    EXPECT_EQ(song.voice().frequency, c.frequency) << c.name;
  }
}

TEST(SequencerPitch, DetuneActsFromTheNextNote) {
  SequencerSong song({{0x45, 0x01, 0x83, 0xFB, 0x45, 0x01, 0xFF}});
  song.tick();
  EXPECT_EQ(song.voice().frequency, 440);
  song.tick();
  EXPECT_EQ(song.voice().frequency, 435);
}

TEST(SequencerRelease, LevelsFallByTheReleaseEachFrame) {
  // Levels 160, release 16: 144, 128, ..., 16, then 0 in the tenth frame.
  SequencerSong song({{0x81, 0xA0, 0x82, 0x10, 0x3C, 0x01, 0x80, 0x40, 0xFF}});
  song.tick();
  song.frame(3);  // keyed on: nothing fades
  EXPECT_EQ(song.voice().volumeRight, 160);
  song.tick();
  EXPECT_EQ(song.voice().volumeRight, 160);  // the rest leaves them to the frames
  for (int frame = 1; frame <= 10; ++frame) {
    song.frame();
    const int expected = frame < 10 ? 160 - 16 * frame : 0;
    EXPECT_EQ(song.voice().volumeRight, expected) << frame;
    EXPECT_EQ(song.voice().volumeLeft, expected) << frame;
  }
  song.frame(5);
  EXPECT_EQ(song.voice().volumeRight, 0);
}

TEST(SequencerRelease, ReleaseNotBelowLevelCutsToZero) {
  const struct {
    int right, left, release;
    int afterRight, afterLeft;
  } cases[] = {
      {20, 40, 16, 4, 24}, {16, 17, 16, 0, 1}, {15, 255, 16, 0, 239}, {0, 5, 255, 0, 0},
  };
  for (const auto& c : cases) {
    SequencerSong song({Bytes{0xFF}});
    song.voice().volumeRight = c.right;
    song.voice().volumeLeft = c.left;
    song.track().release = c.release;
    song.frame();
    EXPECT_EQ(song.voice().volumeRight, c.afterRight);
    EXPECT_EQ(song.voice().volumeLeft, c.afterLeft);
  }
}

TEST(SequencerRelease, ZeroReleaseSilencesAtTheRest) {
  SequencerSong song({{0x81, 0xA0, 0x3C, 0x01, 0x80, 0x05, 0xFF}});
  song.tick(2);
  EXPECT_EQ(song.voice().volumeRight, 0);
  EXPECT_EQ(song.voice().volumeLeft, 0);
}

TEST(SequencerSweep, PlainSweepNeverReachesZero) {
  // Note 0 is 8 Hz; a detune of -7 or -6 puts it at 1 or 2.
  const struct {
    std::uint8_t detune;
    std::uint16_t afterFrame1, afterFrame2;
  } cases[] = {{0xF9, 1, 1}, {0xFA, 1, 1}};
  for (const auto& c : cases) {
    SequencerSong song({{0x83, c.detune, 0x84, 0xFF, 0x00, 0x01, 0x80, 0x10, 0xFF}});
    song.tick();
    song.frame();  // keyed on: no sweep yet
    EXPECT_EQ(song.voice().frequency, c.detune == 0xF9 ? 1 : 2);
    song.tick();
    song.frame();
    EXPECT_EQ(song.voice().frequency, c.afterFrame1);
    song.frame();
    EXPECT_EQ(song.voice().frequency, c.afterFrame2);
  }
}

TEST(SequencerSweep, PlainSweepWrapsModulo65536) {
  // 12543 + 127 * 417 = 65502; one frame more is 65629, which wraps to 93.
  SequencerSong song({{0x84, 0x7F, 0x7F, 0x01, 0x80, 0x10, 0xFF}});
  song.tick(2);
  song.frame(417);
  EXPECT_EQ(song.voice().frequency, 65502);
  song.frame();
  EXPECT_EQ(song.voice().frequency, 93);
}

TEST(SequencerSweep, PeriodSweepRaisesPitchAndStaysInTheTable) {
  {
    // Positive sweep lowers the period: 127 -> 126 -> 125 (447 Hz).
    SequencerSong song({{0xFE, 0x80, 0x84, 0x01, 0x45, 0x01, 0x80, 0x10, 0xFF}});
    song.tick(2);
    song.frame(2);
    EXPECT_EQ(song.track().period, 125);
    EXPECT_EQ(song.voice().frequency, 447);
  }
  {
    // Note 107 has period 14; a sweep of 127 would take it to -113.
    SequencerSong song({{0xFE, 0x80, 0x84, 0x7F, 0x6B, 0x01, 0x80, 0x10, 0xFF}});
    song.tick(2);
    song.frame();
    EXPECT_EQ(song.track().period, 0);
    EXPECT_EQ(song.voice().frequency, 65535);
  }
  {
    // Note 12 has period 3421; sweeping down by 128 passes 4095 in frame 6.
    SequencerSong song({{0xFE, 0x80, 0x84, 0x80, 0x0C, 0x01, 0x80, 0x10, 0xFF}});
    song.tick(2);
    song.frame(5);
    EXPECT_EQ(song.track().period, 4061);
    song.frame(1000);
    EXPECT_EQ(song.track().period, 4095);
    EXPECT_EQ(song.voice().frequency, 13);
  }
}

TEST(SequencerEffects, NothingHappensBeforeTheFirstNote) {
  SequencerSong song({{0x3C, 0x05, 0xFF}});
  song.voice().volumeRight = 77;
  song.voice().frequency = 1234;
  song.frame(20);
  EXPECT_EQ(song.voice().volumeRight, 77);
  EXPECT_EQ(song.voice().frequency, 1234);
  EXPECT_EQ(song.track().noteFrames, 0);
}

// Vibrato setup commands: delay, depth, rate, step, growth, then note 69
// held for 4096 ticks.
Bytes vibratoSong(int delay, int depth, int rate, int step, int growth, Bytes tail = {}) {
  Bytes bytes = {0xA0, 0x00, static_cast<std::uint8_t>(delay), 0xA1,
                 static_cast<std::uint8_t>(depth), 0xA2, static_cast<std::uint8_t>(rate), 0xA3,
                 static_cast<std::uint8_t>(step), 0xA4, static_cast<std::uint8_t>(growth)};
  // Appended byte by byte: GCC 12 at -O2 warns falsely about a range insert here.
  for (std::uint8_t b : tail) bytes.push_back(b);
  for (std::uint8_t b : {0x45, 0xFF, 0x10, 0x00, 0xFF}) bytes.push_back(b);
  return bytes;
}

std::vector<int> framesOf(SequencerSong& song, int frames) {
  std::vector<int> out;
  for (int i = 0; i < frames; ++i) {
    song.frame();
    out.push_back(song.voice().frequency);
  }
  return out;
}

TEST(SequencerVibrato, FrameByFrame) {
  const struct {
    const char* name;
    Bytes bytes;
    std::vector<int> frequencies;  // after frames 1, 2, ...
  } cases[] = {
      // Delay 2 arms in frame 3, rate 1 steps from frame 4: a triangle of +-2.
      {"Triangle",
       vibratoSong(2, 2, 1, 1, 0),
       {440, 440, 440, 441, 442, 441, 440, 439, 438, 439, 440, 441, 442, 441}},
      // Rate 2: one step every second frame, the pitch held between.
      {"RateTwo", vibratoSong(1, 2, 2, 1, 0), {440, 440, 440, 441, 441, 442, 442, 441, 441, 440}},
      // Growth 1: every turn at the upper bound widens it by one.
      {"GrowthOne",
       vibratoSong(2, 2, 1, 1, 1),
       {440, 440, 440, 441, 442, 441, 440, 439, 438, 437, 438, 439, 440, 441, 442, 443, 442}},
      // Growth 0, negative step: the first turn, at the lower bound, widens
      // the bound once (2 -> 3); later lower turns do not.
      {"GrowthZeroFirstLowerTurn",
       vibratoSong(2, 2, 1, -1, 0),
       {440, 440, 440, 439, 438, 439, 440, 441, 442, 443, 442, 441, 440, 439, 438, 437, 438, 439,
        440, 441, 442, 443, 442}},
      // Rate 0 never steps.
      {"RateZero", vibratoSong(1, 5, 0, 3, 0), std::vector<int>(40, 440)},
      // Period mode: the vibrato moves the period; 127 +1 -> 436, -1 -> 443.
      {"PeriodMode",
       vibratoSong(1, 1, 1, 1, 0, {0xFE, 0x80}),
       {440, 440, 436, 440, 443, 440, 436}},
  };
  for (const auto& c : cases) {
    SequencerSong song({c.bytes});
    song.tick();
    EXPECT_EQ(framesOf(song, static_cast<int>(c.frequencies.size())), c.frequencies) << c.name;
  }
}

TEST(SequencerVibrato, GrowthZeroWidensOnlyOnce) {
  SequencerSong song({vibratoSong(1, 2, 1, -1, 0)});
  song.tick();
  song.frame(500);
  EXPECT_EQ(song.track().vibratoRange, 3);
}

TEST(SequencerVibrato, OffsetCarriesOverToTheNextNote) {
  // Delay 2, depth 2, rate 1, step 1: after frame 5 the offset is +2 and
  // falling. Note 72 (523 Hz) then arms with the offset kept and the step
  // reset to +1, so its first step gives 523 + 3.
  Bytes bytes = {0xA0, 0x00, 0x02, 0xA1, 0x02, 0xA2, 0x01, 0xA3, 0x01, 0xA4, 0x00,
                 0x45, 0x01, 0x48, 0x10, 0xFF};
  SequencerSong song({bytes});
  song.tick();
  song.frame(5);
  EXPECT_EQ(song.voice().frequency, 442);
  EXPECT_EQ(song.track().vibratoOffset, 2);
  song.tick();
  EXPECT_EQ(song.voice().frequency, 523);
  EXPECT_EQ(song.track().noteFrames, 0);
  EXPECT_EQ(framesOf(song, 4), (std::vector<int>{523, 523, 523, 526}));
}

TEST(SequencerVibrato, StepAfterKeyOffOverridesTheSweep) {
  // Plain mode, sweep +10 after the rest, vibrato armed with offset 0 and
  // step 1 every frame: the sweep writes 450, then the vibrato step 441.
  SequencerSong song({{0x84, 0x0A, 0x45, 0x01, 0x80, 0x10, 0xFF}});
  song.tick(2);
  Track& t = song.track();
  t.vibratoOn = 1;
  t.vibratoDelay = 1;
  t.noteFrames = 2;  // already armed
  t.vibratoBase = 440;
  t.vibratoRange = 5;
  t.vibratoDelta = 1;
  t.vibratoRate = 1;
  song.frame();
  EXPECT_EQ(song.voice().frequency, 441);
  t.vibratoRate = 0;  // no more steps: the sweep goes on from the last write
  song.frame();
  EXPECT_EQ(song.voice().frequency, 451);
}

TEST(SequencerVibrato, PeriodExcursionsAreClamped) {
  const struct {
    std::int32_t base, delta;
    std::uint16_t frequency;
  } cases[] = {{14, -50, 65535}, {4095, 5, 13}, {4090, 5, 13}, {100, -100, 65535}};
  for (const auto& c : cases) {
    SequencerSong song({Bytes{0xFF}});
    Track& t = song.track();
    t.periodMode = 1;
    t.vibratoOn = 1;
    t.vibratoDelay = 1;
    t.noteFrames = 2;
    t.vibratoBase = c.base;
    t.vibratoRange = 200;
    t.vibratoDelta = c.delta;
    t.vibratoRate = 1;
    song.frame();
    EXPECT_EQ(song.voice().frequency, c.frequency) << c.base << " " << c.delta;
  }
}

}  // namespace
}  // namespace qvb
