// The warnings about songs that compile but will not sound as meant.
#include "compiler/song_warnings.h"

#include <gtest/gtest.h>

#include <string>

namespace qvb {
namespace {

std::vector<std::string> warn(const std::string& source) {
  std::vector<std::string> out;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(source.data());
  for (const SongWarning& w : songWarnings(std::span(bytes, source.size()))) out.push_back(formatWarning(w, "s.qvm"));
  return out;
}

TEST(SongWarnings, ACleanSongAndABrokenOneGetNone) {
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n#A v15 c\n").empty());
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n#A v15 o9 c\n").empty());
}

TEST(SongWarnings, NotesWithoutAVolumeAreSilent) {
  EXPECT_EQ(warn("#TITLE <a>\n#CHANNEL 2\n#A v15 c\n#B c d\n"),
            std::vector<std::string>{"s.qvm:4:1: warning: channel B plays notes but never sets a volume (v): it is silent"});
  // Also in a song with the credits our tools read (song_credits.h).
  EXPECT_EQ(warn("#TITLE <a>\n#COMPOSER <me>\n#CHANNEL 1\n#A c d\n"),
            std::vector<std::string>{"s.qvm:4:1: warning: channel A plays notes but never sets a volume (v): it is silent"});
}

TEST(SongWarnings, ANoteAtVolumeZeroNeverRaisedIsSilent) {
  // '@' takes a number, so "@v0" is a timbre of 0 and a volume of 0.
  EXPECT_EQ(warn("#TITLE <a>\n#CHANNEL 1\n#A @v0 c\n"),
            std::vector<std::string>{"s.qvm:3:8: warning: channel A plays this note at volume 0 and never raises it: it is silent"});
  EXPECT_EQ(warn("#TITLE <a>\n#CHANNEL 1\n#A v12 c v0 d e\n"),
            std::vector<std::string>{"s.qvm:3:13: warning: channel A plays this note at volume 0 and never raises it: it is silent"});
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n#A v0 c v12 d\n").empty()) << "raised after it";
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n#A v0,5 c\n").empty()) << "one side sounds";
}

TEST(SongWarnings, AWaveSlotWithoutWavIsNamedAtItsAt) {
  const std::string wave = "#WAV 3," + std::string("0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,") +
                           "16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31\n";
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n" + wave + "#A %4 @3 v15 c\n").empty());
  EXPECT_EQ(warn("#TITLE <a>\n#CHANNEL 1\n#A %4 v15 c @7 d\n"),
            (std::vector<std::string>{
                "s.qvm:3:1: warning: channel A plays wave slot 0 (@0), which no #WAV fills: it is silent",
                "s.qvm:3:13: warning: channel A plays wave slot 7 (@7), which no #WAV fills: it is silent"}));
}

TEST(SongWarnings, ARepeatBracketLeftOpenPlaysOnce) {
  EXPECT_TRUE(warn("#TITLE <a>\n#CHANNEL 1\n#A v15 [3 c d]\n").empty());
  EXPECT_EQ(warn("#TITLE <a>\n#CHANNEL 1\n#A v15 c\n[3 c d\n"),
            std::vector<std::string>{"s.qvm:4:1: warning: this '[' is still open at the end of channel A: what follows plays once"});
}

TEST(SongWarnings, AThreeByteCharacterSwallowsTheBracketAfterIt) {
  // U+66F2 is E6 9B B2: the last byte takes the '>' along, and the title runs on.
  const std::vector<std::string> title = warn("#TITLE <\xE6\x9B\xB2>\n#CHANNEL 1\n#A v15 c\n");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].rfind("s.qvm:1:12: warning: the byte before this '>' takes it along", 0), 0u) << title[0];
  // The comment runs on to the next '}', eating "c d e".
  const std::vector<std::string> comment = warn("#TITLE <a>\n#CHANNEL 1\n#A v15 c\n{ \xE6\x9B\xB2}\nc d e }\n");
  ASSERT_EQ(comment.size(), 1u);
  EXPECT_EQ(comment[0].rfind("s.qvm:4:6: warning: the byte before this '}' takes it along", 0), 0u) << comment[0];
  EXPECT_TRUE(warn("#TITLE <\xC3\xA9>\n#CHANNEL 1\n#A v15 { \xC3\xA9} c\n").empty()) << "two-byte characters are whole";
}

TEST(SongWarnings, LevelsThatCanPassTheLimitWrap) {
  // Eight squares at v15 peak at 8 * 3840 = 30720 on each side.
  std::string song = "#TITLE <a>\n#CHANNEL 9\n";
  for (char c = 'A'; c <= 'H'; ++c) song += std::string("#") + c + " v15 c\n";
  // A ninth at v7 adds 1792 (32512 in all); at v8 it adds 2048, one past the limit.
  EXPECT_TRUE(warn(song + "#I v7 c\n").empty());
  EXPECT_EQ(warn(song + "#I v8 c\n"),
            std::vector<std::string>{"s.qvm:11:1: warning: the voices together can reach 32768 on the left, "
                                     "past 32767, from channel I on: loud passages wrap around"});
}

TEST(SongWarnings, TheVoiceTypeIsReadAsThePlayerReadsIt) {
  // Noise peaks at v15 at 60 * 128 = 7680: four channels stay under the
  // limit, five pass it. `%130` is noise in period mode, and `%7` is refused
  // and keeps the noise; squares at the same volume peak at half that.
  const auto five = [](const std::string& type) {
    std::string song = "#TITLE <a>\n#CHANNEL 5\n";
    for (char c = 'A'; c <= 'E'; ++c) song += std::string("#") + c + " " + type + " v15 c\n";
    return warn(song);
  };
  const std::vector<std::string> noise{"s.qvm:7:1: warning: the voices together can reach 38400 on the left, "
                                       "past 32767, from channel E on: loud passages wrap around"};
  EXPECT_EQ(five("%2"), noise);
  EXPECT_EQ(five("%130"), noise);
  EXPECT_EQ(five("%2 %7"), noise);
  EXPECT_TRUE(five("%0").empty());
}

}  // namespace
}  // namespace qvb
