// Track data from untrusted files: reading stays inside the channel's
// block, loops that take no time end, and repeat operands outside the
// compiler's range neither index past the slots nor run for ever.
#include <gtest/gtest.h>

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

class SequencerBadInput : public testing::TestWithParam<TraceCase> {};

TEST_P(SequencerBadInput, EndsOrLoopsSafely) {
  SequencerSong song({GetParam().bytes});
  EXPECT_EQ(song.trace(GetParam().ticks), GetParam().expected);
}

const TraceCase kBadInputCases[] = {
    // The end of the block reads as END, also inside an item.
    {"EmptyBlock", {}, 2, "E ."},
    {"NoEnd", {0x3C, 0x01}, 3, "261 E ."},
    {"LengthMissing", {0x3C}, 1, "E"},
    {"LongLengthCut", {0x3C, 0xFF, 0x01}, 1, "E"},
    {"LongLengthHalf", {0x3C, 0xFF}, 1, "E"},
    {"RestLengthMissing", {0x3C, 0x01, 0x80}, 2, "261 E"},
    {"OperandMissing", {0x81}, 1, "E"},
    {"TempoCut", {0x90, 0x01}, 1, "E"},
    {"RepeatStartCut", {0xE1, 0x00}, 1, "E"},
    {"VibratoDelayCut", {0xA0, 0x00}, 1, "E"},
    {"BoundJumpsToTheMark", {0xE0, 0x3C, 0x01}, 3, "261 261 261"},
    {"CutItemJumpsToTheMark", {0xE0, 0x3C, 0x01, 0x90, 0x01}, 3, "261 261 261"},
    // A loop since the mark that takes no time finishes the channel.
    {"MarkThenEnd", {0xE0, 0xFF}, 2, "E ."},
    {"MarkAtTheBound", {0xE0}, 1, "E"},
    {"LoopOfZeroLengthNotes", {0xE0, 0x3C, 0x00, 0x3E, 0x00, 0xFF}, 2, "E ."},
    {"LoopOfCommands", {0x3C, 0x01, 0xE0, 0x81, 0x10, 0xFF}, 3, "261 E ."},
    {"LoopAfterIntroTakesTime", {0x3C, 0x02, 0xE0, 0x3E, 0x01, 0xFF}, 5, "261 . 293 293 293"},
    // Repeats outside the compiler's range.
    {"CountZeroPlaysOnce", {0xE1, 0x00, 0x00, 0x3C, 0x01, 0xE3, 0x00, 0x3E, 0x01, 0xFF}, 3,
     "261 293 E"},
    {"EndWithoutStartPlaysOn", {0x3C, 0x01, 0xE3, 0x00, 0x3E, 0x01, 0xFF}, 3, "261 293 E"},
    {"LevelSixteenIgnored",
     {0xE1, 0x10, 0x03, 0x3C, 0x01, 0xE2, 0x10, 0xE3, 0x10, 0x3E, 0x01, 0xFF},
     3,
     "261 293 E"},
    {"BreakWithoutExitIgnored",
     {0xE1, 0x00, 0x01, 0x45, 0x01, 0xE2, 0x00, 0x47, 0x01, 0xE3, 0x00, 0xFF},
     3,
     "440 493 E"},
    {"BreakNeverUsesAnEarlierLoopsExit",
     // A second loop on level 0 with count 1 breaks with no exit of its own.
     {0xE1, 0x00, 0x02, 0x3C, 0x01, 0xE2, 0x00, 0x3E, 0x01, 0xE3, 0x00,
      0xE1, 0x00, 0x01, 0x40, 0x01, 0xE2, 0x00, 0x45, 0x01, 0xE3, 0x00, 0xFF},
     6,
     "261 293 261 329 440 E"},
    {"CountZeroLoopedBodyPlaysOnce",
     {0xE0, 0xE1, 0x00, 0x00, 0x3C, 0x01, 0xE3, 0x00, 0x3E, 0x01, 0xFF},
     4,
     "261 293 261 293"},
};

INSTANTIATE_TEST_SUITE_P(Tracks, SequencerBadInput, testing::ValuesIn(kBadInputCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SequencerBounds, ReadingStopsAtTheBlockLengthNotAtTheBuffer) {
  // The bytes after the block belong to someone else (the next channel in a
  // real image) and must not be played.
  SequencerSong song({{0x3C, 0x01, 0x3E, 0x01, 0xFF}});
  song.track().length = 2;
  EXPECT_EQ(song.trace(3), "261 E .");
}

TEST(SequencerBounds, CutItemsChangeNothing) {
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"Note", {0x45}}, {"NoteLong", {0x45, 0xFF, 0x00}}, {"Tempo", {0x90, 0x00}},
      {"VoiceType", {0xFE}}, {"Timbre", {0xFD}},
  };
  for (const auto& c : cases) {
    SequencerSong song({c.bytes});
    song.voice().frequency = 1000;
    song.voice().timbre = 7;
    song.tick();
    EXPECT_EQ(song.voice().frequency, 1000) << c.name;
    EXPECT_EQ(song.voice().timbre, 7) << c.name;
    EXPECT_EQ(song.voice().type, Square) << c.name;
    EXPECT_EQ(song.context.tickInterval, 368) << c.name;
    EXPECT_EQ(song.track().wait, 0) << c.name;
  }
}

TEST(SequencerLoop, LoopWithoutProgressStopsAtTheSecondEnd) {
  // The jump to the mark is taken once; meeting END again in the same tick
  // finishes the channel rather than spinning until some other limit.
  const Bytes cases[] = {
      {0xE0, 0xFF},
      {0xE0},
      {0xE0, 0x3C, 0x00, 0x80, 0x00, 0xFF},
      {0xE0, 0xE1, 0x00, 0x03, 0x81, 0x10, 0xE3, 0x00, 0xFF},
  };
  for (const Bytes& bytes : cases) {
    SequencerSong song({bytes});
    song.tick();
    EXPECT_EQ(song.track().wait, 0) << bytes.size();
    EXPECT_EQ(song.track().loopJumps, 1) << bytes.size();
  }
}

TEST(SequencerRepeat, LevelsWithoutASlotLeaveEverySlotAlone) {
  for (int level : {16, 17, 0x80, 0xFF}) {
    const auto l = static_cast<std::uint8_t>(level);
    SequencerSong song({{0xE1, l, 0x05, 0xE2, l, 0xE3, l, 0x3C, 0x01, 0xFF}});
    song.tick();
    const Track& t = song.track();
    for (int slot = 0; slot < kRepeatLevels; ++slot) {
      EXPECT_EQ(t.repeatStart[slot], 0) << level << " " << slot;
      EXPECT_EQ(t.repeatCount[slot], 0) << level << " " << slot;
      EXPECT_EQ(t.repeatExit[slot], 0) << level << " " << slot;
    }
    EXPECT_EQ(t.wait, 1) << level;
    EXPECT_EQ(t.pos, 9) << level;
  }
}

TEST(SequencerRepeat, LevelFifteenIsTheLastSlot) {
  SequencerSong song({{0xE1, 0x0F, 0x02, 0x3C, 0x01, 0xE3, 0x0F, 0xFF}});
  EXPECT_EQ(song.trace(3), "261 261 E");
  EXPECT_EQ(song.track().repeatExit[15], 7);
}

// A block of `commands` VOLUME commands followed by a note of 5 ticks: the
// first tick reads commands + 1 items.
Bytes commandRun(int commands) {
  Bytes bytes;
  for (int i = 0; i < commands; ++i) bytes.insert(bytes.end(), {0x81, 0x20});
  bytes.insert(bytes.end(), {0x3C, 0x05, 0xFF});
  return bytes;
}

TEST(SequencerBudget, ReadsUpToTheBudgetInOneTick) {
  SequencerSong song({commandRun(kMaxItemsPerTick - 1)});
  song.tick();
  EXPECT_EQ(song.track().wait, 5);
  EXPECT_EQ(song.voice().frequency, 261);
  EXPECT_EQ(song.voice().volumeRight, 32);
}

TEST(SequencerBudget, OneItemPastTheBudgetFinishesTheChannel) {
  SequencerSong song({commandRun(kMaxItemsPerTick)});
  song.tick();
  EXPECT_EQ(song.track().wait, 0);
  EXPECT_EQ(song.voice().frequency, 440);  // the note was never reached
  EXPECT_EQ(song.voice().volumeRight, 0);
}

TEST(SequencerBudget, CountsPerTickNotPerSong) {
  // Each tick reads three quarters of the budget; the total passes it.
  const int run = kMaxItemsPerTick / 4 * 3;
  Bytes bytes;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < run; ++i) bytes.insert(bytes.end(), {0x81, 0x20});
    bytes.insert(bytes.end(), {0x3C, 0x01});
  }
  bytes.push_back(0xFF);
  SequencerSong song({bytes});
  EXPECT_EQ(song.trace(4), "261 261 261 E");
}

// Repeats nested on every level around a body of commands, each level
// with a break before its end when `breaks` is set, then note 60.
Bytes nestedRepeats(bool breaks) {
  Bytes bytes;
  for (int level = 0; level < kRepeatLevels; ++level)
    bytes.insert(bytes.end(), {REPEAT_START, static_cast<std::uint8_t>(level), 0xFF});
  bytes.insert(bytes.end(), {VOLUME, 0x20, DETUNE, 0x01});
  for (int level = kRepeatLevels - 1; level >= 0; --level) {
    if (breaks) bytes.insert(bytes.end(), {REPEAT_BREAK, static_cast<std::uint8_t>(level)});
    bytes.insert(bytes.end(), {REPEAT_END, static_cast<std::uint8_t>(level)});
  }
  bytes.insert(bytes.end(), {0x3C, 0x01, END});
  return bytes;
}

TEST(SequencerBudget, DeeplyNestedRepeatsOfCommandsPlayWhatFollows) {
  // 255^16 passes that all leave the channel as the first did.
  SequencerSong song({nestedRepeats(false), {0x3E, 0x01, END}});
  song.tick();
  EXPECT_EQ(song.track(0).wait, 1);
  EXPECT_EQ(song.voice(0).frequency, 262);  // note 60 detuned by 1
  EXPECT_EQ(song.voice(0).volumeRight, 0x20);
  for (int level = 0; level < kRepeatLevels; ++level) EXPECT_EQ(song.track(0).repeatCount[level], 0) << level;
  EXPECT_EQ(song.voice(1).frequency, 293);
}

TEST(SequencerBudget, NestedRepeatsWithBreaksEndInOneTick) {
  // Every level's last pass is read once more for its break: 2^16 inner
  // passes pass the budget, so the channel finishes and the next one plays.
  SequencerSong song({nestedRepeats(true), {0x3E, 0x01, END}});
  song.tick();
  EXPECT_EQ(song.track(0).wait, 0);
  EXPECT_EQ(song.voice(1).frequency, 293);
}

TEST(SequencerRepeat, TimelessBodyStillTakesItsBreakOnTheLastPass) {
  // 254 passes end with detune 2; the last one leaves at the break with 1.
  SequencerSong song({{REPEAT_START, 0, 0xFF, DETUNE, 0x01, REPEAT_BREAK, 0, DETUNE, 0x02, REPEAT_END, 0, 0x45,
                       0x01, END}});
  EXPECT_EQ(song.trace(2), "441 E");
  EXPECT_EQ(song.track().repeatCount[0], 1);
}

TEST(SequencerVoices, ChannelsWithoutAVoiceAreLeftAlone) {
  SequencerSong song({{0x3C, 0x01, 0xFF}, {0x3E, 0x01, 0xFF}});
  Voice* voices[2] = {nullptr, &song.voice(1)};
  song.context.voices = voices;
  song.tick();
  song.frame();
  EXPECT_EQ(song.track(0).pos, 0);
  EXPECT_EQ(song.voice(1).frequency, 293);

  song.context.voices = nullptr;
  song.tick();
  song.frame();
  EXPECT_EQ(song.track(1).wait, 1);
}

}  // namespace
}  // namespace qvb
