// Reading track bytes: notes, rests, length fields, repeats, the loop mark,
// commands and channel order. Frequencies are worked out by hand from
// floor(440 * 2^((n - 69) / 12)): note 60 = 261, 62 = 293, 64 = 329,
// 69 = 440, 71 = 493, 72 = 523.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "song/sequencer.h"
#include "tests/song/sequencer_fixture.h"

namespace qvb {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::SequencerSong;
using test::TraceCase;

class SequencerTrace : public testing::TestWithParam<TraceCase> {};

TEST_P(SequencerTrace, PlaysTheExpectedItemsTickByTick) {
  SequencerSong song({GetParam().bytes});
  EXPECT_EQ(song.trace(GetParam().ticks), GetParam().expected);
}

const TraceCase kTraceCases[] = {
    {"OnlyEndFinishesAtFirstTick", {0xFF}, 2, "E ."},
    {"NoteLengthCountsTicks", {0x3C, 0x03, 0x3E, 0x01, 0xFF}, 5, "261 . . 293 E"},
    {"RestKeysOff", {0x3C, 0x01, 0x80, 0x02, 0x40, 0x01, 0xFF}, 5, "261 R . 329 E"},
    {"ShortLength254", {0x3C, 0xFE, 0xFF}, 1, "261"},
    {"RepeatThreeTimes", {0xE1, 0x00, 0x03, 0x3C, 0x01, 0xE3, 0x00, 0xFF}, 5, "261 261 261 E ."},
    {"RepeatBreakOnLastPass",
     {0xE1, 0x00, 0x02, 0x45, 0x01, 0xE2, 0x00, 0x47, 0x01, 0xE3, 0x00, 0xFF},
     5,
     "440 493 440 E ."},
    {"NestedRepeats",
     {0xE1, 0x00, 0x02, 0xE1, 0x01, 0x02, 0x3C, 0x01, 0xE3, 0x01, 0x3E, 0x01, 0xE3, 0x00, 0xFF},
     8,
     "261 261 293 261 261 293 E ."},
    {"BreakLeavesAfterTheInnerEnd",
     // Outer loop twice around: inner loop of 2 whose second pass breaks before 62.
     {0xE1, 0x00, 0x02, 0xE1, 0x01, 0x02, 0x3C, 0x01, 0xE2, 0x01, 0x3E, 0x01, 0xE3, 0x01, 0x40,
      0x01, 0xE3, 0x00, 0xFF},
     8,
     "261 293 261 329 261 293 261 329"},
    {"LoopMarkRestartsAtTheMark",
     {0x3E, 0x01, 0xE0, 0x3C, 0x02, 0x40, 0x01, 0xFF},
     8,
     "293 261 . 329 261 . 329 261"},
};

INSTANTIATE_TEST_SUITE_P(Reading, SequencerTrace, testing::ValuesIn(kTraceCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Every byte from 0x81 up that has no command behaves like END, with and
// without a loop mark.
TEST(SequencerUnassigned, EveryUnlistedCommandByteEndsOrLoops) {
  const Bytes listed = {VOLUME,        RELEASE,        DETUNE,       SWEEP,        VOLUME_RIGHT,
                        VOLUME_LEFT,   TEMPO,          VIBRATO_DELAY, VIBRATO_DEPTH, VIBRATO_RATE,
                        VIBRATO_STEP,  VIBRATO_GROWTH, LOOP_MARK,    REPEAT_START, REPEAT_BREAK,
                        REPEAT_END,    TIMBRE,         VOICE_TYPE};
  for (int byte = 0x81; byte <= 0xFF; ++byte) {
    if (std::find(listed.begin(), listed.end(), byte) != listed.end()) continue;
    const auto b = static_cast<std::uint8_t>(byte);
    SequencerSong plain({{0x3C, 0x01, b, 0x3E, 0x01}});
    EXPECT_EQ(plain.trace(2), "261 E") << std::hex << byte;
    SequencerSong looped({{0xE0, 0x3C, 0x01, b, 0x3E, 0x01}});
    EXPECT_EQ(looped.trace(3), "261 261 261") << std::hex << byte;
  }
}

TEST(SequencerLength, LongFormIsBigEndianAndAcceptsSmallValues) {
  const struct {
    Bytes bytes;
    std::int32_t wait;
    std::int32_t pos;
  } cases[] = {
      {{0x3C, 0xFF, 0x01, 0x2C, 0xFF}, 300, 4},
      {{0x3C, 0xFF, 0x00, 0x05, 0xFF}, 5, 4},
      {{0x3C, 0xFF, 0xFF, 0xFF, 0xFF}, 65535, 4},
      {{0x80, 0xFF, 0x01, 0x00, 0xFF}, 256, 4},
      {{0x3C, 0x07, 0xFF}, 7, 2},
  };
  for (const auto& c : cases) {
    SequencerSong song({c.bytes});
    song.tick();
    EXPECT_EQ(song.track().wait, c.wait);
    EXPECT_EQ(song.track().pos, c.pos);
  }
}

TEST(SequencerNote, ZeroLengthNoteThenRestInOneTick) {
  SequencerSong song({{0x81, 0xA0, 0x3C, 0x00, 0x80, 0x03, 0xFF}});
  song.voice().frequency = 1000;
  song.tick();
  EXPECT_EQ(song.voice().frequency, 261);  // the note was keyed on...
  EXPECT_EQ(song.voice().volumeRight, 0);  // ...and silenced by the rest
  EXPECT_EQ(song.voice().volumeLeft, 0);
  EXPECT_EQ(song.track().keyOn, 0);
  EXPECT_EQ(song.track().wait, 3);
}

TEST(SequencerNote, LevelsComeFromTheTrackAtNoteOn) {
  SequencerSong song({{0x81, 0xA0, 0x3C, 0x01, 0x85, 0x10, 0x86, 0x20, 0x80, 0x01, 0x3C, 0x01,
                       0xFF}});
  song.tick();
  EXPECT_EQ(song.voice().volumeRight, 160);
  EXPECT_EQ(song.voice().volumeLeft, 160);
  EXPECT_EQ(song.track().keyOn, 1);
  song.tick(2);
  EXPECT_EQ(song.voice().volumeRight, 16);
  EXPECT_EQ(song.voice().volumeLeft, 32);
}

TEST(SequencerEnd, FinishingCutsTheLevelsAndNeverReadsAgain) {
  SequencerSong song({{0x81, 0x40, 0x82, 0x08, 0x3C, 0x01, 0xFF, 0x3E, 0x01}});
  song.tick();
  EXPECT_EQ(song.voice().volumeRight, 64);
  song.tick();
  EXPECT_EQ(song.track().wait, 0);
  EXPECT_EQ(song.track().keyOn, 0);
  EXPECT_EQ(song.voice().volumeRight, 0);  // at once, despite the release
  EXPECT_EQ(song.voice().volumeLeft, 0);
  const std::int32_t pos = song.track().pos;
  song.tick(10);
  EXPECT_EQ(song.track().pos, pos);
  EXPECT_EQ(song.voice().frequency, 261);
}

TEST(SequencerLoop, MarkedLoopNeverFinishes) {
  SequencerSong song({{0xE0, 0x3C, 0x10, 0xFF}});
  std::string expected = "261";
  for (int i = 1; i < 48; ++i) expected += i % 16 == 0 ? " 261" : " .";
  EXPECT_EQ(song.trace(48), expected);
  EXPECT_EQ(song.track().loopJumps, 2);
  song.tick(16 * 1000);
  EXPECT_NE(song.track().wait, 0);
  EXPECT_EQ(song.track().loopJumps, 1002);
}

TEST(SequencerLoop, RepeatCountersPersistAcrossTheJump) {
  // The repeat before the mark ran out; after the jump only its END is met
  // again, which must not jump back into the finished loop.
  SequencerSong song({{0xE1, 0x00, 0x02, 0x3C, 0x01, 0xE0, 0xE3, 0x00, 0x3E, 0x01, 0xFF}});
  EXPECT_EQ(song.trace(6), "261 261 293 293 293 293");
}

TEST(SequencerCommands, VoiceTypeSetsTypeAndPeriodMode) {
  const struct {
    std::uint8_t operand;
    std::int32_t type;
    std::int32_t periodMode;
  } cases[] = {
      {0x81, Pulse, 1}, {0x05, Noise, 0}, {0x73, Sine, 0}, {0xF4, Wave, 1}, {0x80, Square, 1},
  };
  for (const auto& c : cases) {
    SequencerSong song({{0xFE, 0x02, 0xFE, c.operand, 0x3C, 0x01, 0xFF}});
    song.voice().phase = 1234;
    song.voice().position = 1;
    song.tick();
    EXPECT_EQ(song.voice().type, c.type) << int{c.operand};
    EXPECT_EQ(song.track().periodMode, c.periodMode) << int{c.operand};
    EXPECT_EQ(song.voice().phase, 0) << int{c.operand};
    EXPECT_EQ(song.voice().position, 0) << int{c.operand};
  }
}

TEST(SequencerCommands, OperandsLandInTheirFields) {
  SequencerSong song({{0x82, 0x10, 0x83, 0xFB, 0x84, 0x80, 0xA0, 0x12, 0x34, 0xA1, 0xC8, 0xA2,
                       0x07, 0xA3, 0xFE, 0xA4, 0x09, 0xFD, 0x06, 0x80, 0x01, 0xFF}});
  song.tick();
  const Track& t = song.track();
  EXPECT_EQ(t.release, 16);
  EXPECT_EQ(t.detune, -5);
  EXPECT_EQ(t.sweep, -128);
  EXPECT_EQ(t.vibratoDelay, 0x1234);
  EXPECT_EQ(t.vibratoOn, 1);
  EXPECT_EQ(t.vibratoDepth, 200);
  EXPECT_EQ(t.vibratoRate, 7);
  EXPECT_EQ(t.vibratoStep, -2);
  EXPECT_EQ(t.vibratoGrowth, 9);
  EXPECT_EQ(song.voice().timbre, 6);  // at once, not at the next note
}

TEST(SequencerCommands, VibratoDelayZeroSwitchesTheVibratoOff) {
  SequencerSong song({{0xA0, 0x00, 0x05, 0x80, 0x01, 0xA0, 0x00, 0x00, 0x80, 0x01, 0xFF}});
  song.tick();
  EXPECT_EQ(song.track().vibratoOn, 1);
  song.tick();
  EXPECT_EQ(song.track().vibratoOn, 0);
}

TEST(SequencerTempo, SetsTheTickIntervalWithoutAMixer) {
  SequencerSong song({{0x90, 0x00, 0xE5, 0x3C, 0x01, 0xFF}});
  song.tick();
  EXPECT_EQ(song.context.tickInterval, 229);
}

TEST(SequencerOrder, TickReadsChannelZeroFirst) {
  // Both channels drive one voice: the later channel's note is what remains.
  SequencerSong song({{0x3C, 0x01, 0xFF}, {0x3E, 0x01, 0xFF}});
  song.shareVoice(1, 0);
  song.tick();
  EXPECT_EQ(song.voice().frequency, 293);

  SequencerSong tempo({{0x90, 0x00, 0x64, 0x80, 0x01, 0xFF}, {0x90, 0x00, 0xC8, 0x80, 0x01, 0xFF}});
  tempo.tick();
  EXPECT_EQ(tempo.context.tickInterval, 200);
}

TEST(SequencerOrder, EffectFrameRunsChannelZeroFirst) {
  // Channel 0 sweeps the shared voice up by 1 Hz; channel 1 then writes
  // period 127 + 1 = 128, 55930 / 128 = 436 Hz over it.
  SequencerSong song({{0xFF}, {0xFF}});
  song.shareVoice(1, 0);
  song.track(0).sweep = 1;
  song.track(1).periodMode = 1;
  song.track(1).period = 127;
  song.track(1).sweep = -1;
  song.frame();
  EXPECT_EQ(song.voice().frequency, 436);
  EXPECT_EQ(song.track(1).period, 128);
}

}  // namespace
}  // namespace qvb
