// Keys to actions, and the display fitting the terminal.
#include <gtest/gtest.h>

#include "play/display.h"
#include "play/keys.h"

namespace qvb {
namespace {

std::vector<ActionType> types(const std::vector<Action>& actions) {
  std::vector<ActionType> out;
  for (const Action& a : actions) out.push_back(a.type);
  return out;
}

TEST(KeyMap, EveryKeyOfTheHelpLineDoesItsAction) {
  KeyMap keys;
  EXPECT_EQ(types(keys.feed(" ")), std::vector{ActionType::Pause});
  EXPECT_EQ(types(keys.feed("r")), std::vector{ActionType::Restart});
  EXPECT_EQ(keys.feed("3"), std::vector{(Action{ActionType::ToggleMute, 2})});
  EXPECT_EQ(keys.feed("\033[C"), std::vector{Action{ActionType::SeekForward}});
  EXPECT_EQ(keys.feed("\033[D"), std::vector{Action{ActionType::SeekBack}});
  for (const char* quit : {"q", "\003", "\033x"}) EXPECT_EQ(types(keys.feed(quit)), std::vector{ActionType::Quit}) << quit;
  EXPECT_TRUE(keys.feed("\033").empty());  // Esc alone: a sequence may follow
  EXPECT_EQ(types(keys.feed("")), std::vector{ActionType::Quit});
}

TEST(KeyMap, ASequenceCutBetweenTwoReadsIsOneKey) {
  for (std::size_t cut = 1; cut <= 5; ++cut) {
    const std::string typed = std::string(2, 'x') + "\033[C" + "\033[1;5D";
    KeyMap keys;
    std::vector<ActionType> got = types(keys.feed(std::string_view(typed).substr(0, cut)));
    for (ActionType t : types(keys.feed(std::string_view(typed).substr(cut)))) got.push_back(t);
    for (ActionType t : types(keys.feed(""))) got.push_back(t);
    EXPECT_EQ(got, std::vector{ActionType::SeekForward}) << cut;
  }
}

TEST(KeyMap, SThenANumberSolosAndAnyOtherKeyAfterSIsItself) {
  KeyMap keys;
  EXPECT_TRUE(keys.feed("s").empty());
  EXPECT_TRUE(keys.soloPending());
  EXPECT_EQ(keys.feed("2"), std::vector{(Action{ActionType::Solo, 1})});
  EXPECT_FALSE(keys.soloPending());
  EXPECT_EQ(types(keys.feed("s ")), std::vector{ActionType::Pause});
  EXPECT_EQ(keys.feed("2"), std::vector{(Action{ActionType::ToggleMute, 1})});
}

TEST(Display, ClockNotesAndTempoInAMusiciansTerms) {
  EXPECT_EQ(clockText(44100 * 65 + 13230, 44100), "1:05.3");
  EXPECT_EQ(clockText(-1, 44100), "-");
  EXPECT_EQ(noteName(60), "c5");  // o5 c, as the source writes it
  EXPECT_EQ(noteName(69), "a5");  // 440 Hz
  EXPECT_EQ(noteName(66), "f#5");
  EXPECT_EQ(tempoText(368), "interval 368, 74.9 bpm");  // the starting speed: a quarter note lasts 0.801 s
  EXPECT_EQ(tempoText(27562 / 150), "interval 183, 150.6 bpm");  // t150 rounds its interval down
  SongFigures looping;
  looping.introFrames = 100;
  looping.loopFrames = 1000;
  EXPECT_EQ(songPlace(1099, looping), 1099);
  EXPECT_EQ(songPlace(1100, looping), 100);  // back at the loop mark
  EXPECT_EQ(songPlace(2650, looping), 650);
  // Bars of 192 ticks, beats of 48, both counted from 1.
  for (const auto& [tick, text] : {std::pair{0, "1:1"}, {47, "1:1"}, {48, "1:2"}, {191, "1:4"}, {192, "2:1"},
                                   {192 * 9 + 100, "10:3"}, {-1, "-"}}) {
    EXPECT_EQ(barBeatText(tick), text) << tick;
  }
}

TEST(Display, ATwentyColumnTerminalGetsNoLineLongerThanTwentyCharacters) {
  DisplayModel model;
  model.file = "a/very/long/path/to/the/song.qvm";
  model.title = "Caf\xC3\xA9 \xE6\x9B\xB2 and more words";
  model.channels.resize(4);
  model.problem = {"song.qvm:3:7: error -20 OCTAVE: an octave outside 1..8"};
  for (const std::string& line : screenLines(model, 20)) {
    int columns = 0;
    for (const char c : line) {
      const auto b = static_cast<unsigned char>(c);
      columns += b >= 0xE0 ? 2 : (b & 0xC0) != 0x80;  // the CJK character is drawn double wide
    }
    EXPECT_LE(columns, 20) << line;
  }
  EXPECT_EQ(screenLines(model, 20)[0], "Caf\xC3\xA9 \xE6\x9B\xB2 and more wor");
}

TEST(Display, ATitleAndASourceLineShowTheirControlBytesInsteadOfObeyingThem) {
  DisplayModel model;
  model.file = "song.qvm";
  model.title = "\x1b]0;owned\x07";
  model.problem = {"song.qvm:4:1: error", "$ c \x1b]52;c;ZWNobw==\x07\x1b[2J", "^"};
  const std::vector<std::string> lines = screenLines(model, 80);
  EXPECT_EQ(lines[0], "\\x1b]0;owned\\x07  (song.qvm)");
  EXPECT_EQ(lines[lines.size() - 3], "$ c \\x1b]52;c;ZWNobw==\\x07\\x1b[2J");
}

}  // namespace
}  // namespace qvb
