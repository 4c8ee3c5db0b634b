// The song loader: images pass through, source is compiled, and a refused
// song is diagnosed with where the fault lies.
#include "loader/song_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/compile_errors.h"
#include "song/qvb_format.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

test::ImageContents twoChannels() {
  test::ImageContents contents;
  contents.title = "ab";
  contents.channels = {{0xFF}, {0xFF}};
  return contents;
}

TEST(SongLoader, AnImagePassesThroughUnchanged) {
  const auto image = test::buildImage(twoChannels());
  const LoadedSong song = loadSong(image);
  ASSERT_TRUE(song.ok());
  EXPECT_EQ(song.image, image);
}

TEST(SongLoader, SourceIsCompiledToAnImage) {
  const LoadedSong song = loadSong(bytesOf("#TITLE <t>\n#CHANNEL 1\n#A c\n"));
  ASSERT_TRUE(song.ok());
  EXPECT_TRUE(hasMagic(song.image));
}

// #COMPOSER and #COPYRIGHT are read by our tools alone: the song compiles to
// the image it makes without them, while the compiler qvbp runs refuses them
// as it refuses any directive it does not know.
TEST(SongLoader, ReadsTheCreditsAndCompilesTheSongAsWithoutThem) {
  const std::string song = "#TITLE <t>\n#CHANNEL 1\n#A v9 c\n";
  struct Case {
    const char* lines;
    const char* composer;
    const char* copyright;
  } const cases[] = {
      {"#COMPOSER <Jane Doe>\n#COPYRIGHT <2024 \\> Co>\n", "Jane Doe", "2024 > Co"},
      {"  {a} #COMPOSER<first>\r\n#COMPOSER <second> #CHANNEL 1\r\n", "second", ""},
      {"{ #COMPOSER <commented>\n#COPYRIGHT <still commented> }\n", "", ""},
  };
  const LoadedSong plain = loadSong(bytesOf(song));
  ASSERT_TRUE(plain.ok());
  for (const Case& c : cases) {
    const std::string source = c.lines + song;
    const LoadedSong loaded = loadSong(bytesOf(source));
    ASSERT_TRUE(loaded.ok()) << source << describeProblem(loaded.diagnosis, "s.qvm");
    EXPECT_EQ(loaded.image, plain.image) << source;
    EXPECT_EQ(loaded.composer, c.composer) << source;
    EXPECT_EQ(loaded.copyright, c.copyright) << source;
    if (*c.composer == 0) continue;
    const MmlCompiler compiler(bytesOf(source).data(), static_cast<std::int32_t>(source.size()));
    CompileError error;
    ASSERT_TRUE(compiler.errorInfo(error)) << source;
    EXPECT_EQ(error.type, ERR_HEADER) << source;
  }
  // Not closed on its line: the compiler's to refuse.
  const LoadedSong open = loadSong(bytesOf("#COMPOSER <Jane\nDoe>\n" + song));
  EXPECT_EQ(open.diagnosis.error.type, ERR_HEADER);
}

// Faults as musicians write them, each shown at its command with its channel,
// wherever the compiler's reads stopped (qvbp itself says line 1, row 0 for
// most of these: the reads ran into the channel's end).
// The divisors of 192 ticks, by hand.
#define QVB_LENGTHS "the lengths that divide a whole note are 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96 and 192, and a dot needs a part of an even number of ticks"
constexpr const char* kLengthsA = " (channel A: " QVB_LENGTHS ")";
constexpr const char* kLengthsB = " (channel B: " QVB_LENGTHS ")";

TEST(SongLoader, ACompileErrorIsShownAtItsCommandAndNamesItsChannel) {
  struct Case {
    const char* source;
    std::int32_t code, line, row;
    const char* tail;  // what follows the meaning
  } const cases[] = {
      {"#TITLE <t>\n#CHANNEL 2\n#A c\n#B v16 c\n", ERR_VOLUME, 4, 4, " (channel B)"},
      {"#TITLE <t>\n#CHANNEL 2\n#A c\n#B v10 c d e c5\n", ERR_LENGTH_DIVIDE, 4, 14, kLengthsB},
      {"#TITLE <t>\n#CHANNEL 1\n#A c /:2 d\n e\n", ERR_LOOP_OPEN, 4, 2,  // the channel's last command
       " (channel A: the loop opened at 3:6 is not closed when the channel ends)"},
      {"#TITLE <t>\n#CHANNEL 1\n#A c o9\n", ERR_OCTAVE, 3, 6, " (channel A)"},
      {"#TITLE <t>\n#CHANNEL 1\n#A c d v16\n f\n", ERR_VOLUME, 3, 8, " (channel A)"},  // not at the next line
      {"#TITLE <t>\r\n#CHANNEL 1\r\n#A c\r\n e c5\r\n", ERR_LENGTH_DIVIDE, 4, 4, kLengthsA},  // CR LF
  };
  for (const Case& c : cases) {
    const LoadedSong song = loadSong(bytesOf(c.source));
    ASSERT_EQ(song.diagnosis.problem, SongProblem::Compile) << c.source;
    EXPECT_EQ(song.diagnosis.error.type, c.code) << c.source;
    EXPECT_EQ(describeProblem(song.diagnosis, "s.qvm"),
              "s.qvm:" + std::to_string(c.line) + ":" + std::to_string(c.row) + ": error " + std::to_string(c.code) +
                  " " + std::string(findErrorCode(c.code)->name) + ": " + std::string(findErrorCode(c.code)->meaning) +
                  c.tail)
        << c.source;
  }
}

// A header fault is shown at its directive (qvbp says where its reads
// stopped: for a number at a line's end the next header line, or 1:0), and
// a count that cannot be says why.
TEST(SongLoader, AHeaderFaultIsShownAtItsDirectiveInItsOwnWords) {
  struct Case {
    const char* source;
    std::int32_t code, line, row;
    const char* words;  // null: the code's meaning
  } const cases[] = {
      {"#TITLE <Song>\n\n#CHANNEL 0\n#A c d e\n", ERR_CHANNEL, 3, 1, nullptr},
      {"#TITLE <Song>\n#CHANNEL 0\n#WAV 0,<1>\n#A c\n", ERR_CHANNEL, 2, 1, nullptr},
      {"#TITLE <Song>\r\n  #CHANNEL 0\r\n#A c\r\n", ERR_CHANNEL, 2, 3, nullptr},  // CR LF, indented
      {"#TITLE <Song>\n#CHANNEL 1\n#WAV 0,<1,2,3>\n#A c\n", ERR_WAV_COUNT, 3, 1,
       "this #WAV gives 3 values; a wave takes exactly 32"},
      {"#TITLE <Song>\n#TEMPO 120\n#CHANNEL 1\n#A c\n", ERR_HEADER, 2, 1, nullptr},
      {"#TITLE <Song>\n#CHANNEL 27\n#A c d e\n", ERR_CHANNEL_COUNT, 2, 1, "#CHANNEL 27: 26 channels at most"},
      {"#TITLE <Song>\n#CHANNEL 3\n#A c\n#B c\n", ERR_CHANNEL_COUNT, 2, 1,
       "#CHANNEL 3, but the last channel with text is B"},
      {"#TITLE <Song>\n#CHANNEL 2\n#A c\n#B c\n#C c\n", ERR_CHANNEL_COUNT, 2, 1,
       "#CHANNEL 2, but channel C has text"},
      {"#TITLE <Song>\n#CHANNEL 2\n", ERR_CHANNEL_COUNT, 2, 1, "#CHANNEL 2, but no channel has text"},
      {"#TITLE <Song>\n#PRAGMA FAMICOM\n#CHANNEL 4\n#A c\n#B c\n#C c\n#D c\n", ERR_CHANNEL_COUNT, 3, 1,
       "#CHANNEL 4: #PRAGMA FAMICOM plays exactly 3 channels"},
      {"#CHANNEL 1\n#A c\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0, "the header has no #TITLE with a title byte"},
      {"#TITLE <Song>\n#A c\n", ERR_NO_TITLE_OR_CHANNEL, 0, 0, "the header has no #CHANNEL line"},
  };
  for (const Case& c : cases) {
    const LoadedSong song = loadSong(bytesOf(c.source));
    ASSERT_EQ(song.diagnosis.problem, SongProblem::Compile) << c.source;
    EXPECT_EQ(song.diagnosis.error.type, c.code) << c.source;
    EXPECT_EQ(song.diagnosis.channel, 0) << c.source;
    const std::string words = c.words ? c.words : std::string(findErrorCode(c.code)->meaning);
    EXPECT_EQ(describeProblem(song.diagnosis, "s.qvm"), "s.qvm:" + std::to_string(c.line) + ":" +
                                                            std::to_string(c.row) + ": error " +
                                                            std::to_string(c.code) + " " +
                                                            std::string(findErrorCode(c.code)->name) + ": " + words)
        << c.source;
  }
}

TEST(SongLoader, AHeaderErrorHasNoChannel) {
  const LoadedSong song = loadSong(bytesOf("#TITLE <t>\n#CHANNEL 1\n#WAV 0,<[33 0,]>\n#A c\n"));
  ASSERT_EQ(song.diagnosis.problem, SongProblem::Compile);
  EXPECT_EQ(song.diagnosis.channel, 0);
}

TEST(SongLoader, AnImageWhoseChannelBlockRunsPastTheEndIsDamaged) {
  auto image = test::buildImage(twoChannels());
  // The second channel's length field (table entry 1, after its offset).
  test::putBe32(image, channelCountOffset(2) + 2 + kChannelEntrySize + 4, 0x10000);
  const LoadedSong song = loadSong(image);
  ASSERT_EQ(song.diagnosis.problem, SongProblem::DamagedImage);
  EXPECT_EQ(song.diagnosis.fault, PlayerFault::ChannelBlock);
  EXPECT_EQ(song.diagnosis.faultChannel, 1);
  EXPECT_TRUE(song.image.empty());
  EXPECT_EQ(describeProblem(song.diagnosis, "x.qvb"),
            "x.qvb: damaged QVB image: the block of channel B runs past the end");
}

TEST(SongLoader, ACutImageNamesItsWaveList) {
  auto image = test::buildImage(twoChannels());
  image.pop_back();  // the wave count loses a byte
  const LoadedSong song = loadSong(image);
  ASSERT_EQ(song.diagnosis.problem, SongProblem::DamagedImage);
  EXPECT_EQ(song.diagnosis.fault, PlayerFault::WaveList);
}

}  // namespace
}  // namespace qvb
