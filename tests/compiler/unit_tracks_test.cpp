// The command compiler and its buffers: byte output of single channels, the
// faults it must catch without overflowing, and the buffers' growth and mark.
#include <gtest/gtest.h>

#include "tests/support/case_name.h"

#include <string>
#include <string_view>
#include <vector>

#include "compiler/channel_buffers.h"
#include "compiler/compile_errors.h"
#include "compiler/mml_source.h"
#include "compiler/preprocess.h"
#include "compiler/track_compiler.h"

namespace qvb {
namespace {

struct Compiled {
  Compiled(std::string_view channels, std::int32_t count, std::int32_t mode = kModeNormal,
           std::int64_t limit = ChannelBuffers::kMaxTotalBytes)
      : copy(channels.begin(), channels.end()), tracks(count, limit) {
    copy.resize(channels.size() + 2, 0);
    std::int32_t l = 0, r = 0;
    EXPECT_EQ(preprocess(copy, l, r), 0);
    EXPECT_EQ(source.split(copy.data()), 0);
    header.channelCount = count;
    header.mode = mode;
    code = compileTracks(source, header, tracks);
    source.position(line, row);
  }
  std::vector<std::uint8_t> bytes(std::int32_t i) const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(tracks.length(i)));
    tracks.copyTo(i, out.data());
    return out;
  }
  std::vector<std::uint8_t> copy;
  MmlSource source;
  SongHeader header;
  ChannelBuffers tracks;
  int code = 0;
  std::int32_t line = 0, row = 0;
};

TEST(TrackCompilerTest, FamicomPrefixesAndDutyChecks) {
  Compiled ok("#A @7 c\n#C r", 3, kModeFamicom);
  ASSERT_EQ(ok.code, 0);
  EXPECT_EQ(ok.bytes(0), (std::vector<std::uint8_t>{0xFE, 0x01, 0xFD, 0x07, 0x30, 0x30, 0xFF}));
  EXPECT_EQ(ok.bytes(1), (std::vector<std::uint8_t>{0xFE, 0x01, 0xFF}));
  EXPECT_EQ(ok.bytes(2), (std::vector<std::uint8_t>{0xFE, 0x03, 0x80, 0x30, 0xFF}));
  for (const auto& [text, code] : std::vector<std::pair<std::string, int>>{
           {"#A @3", ERR_TIMBRE}, {"#B @8", ERR_TIMBRE}, {"#C @0", ERR_TIMBRE}, {"#B %1", ERR_VOICE_TYPE}}) {
    Compiled bad(text + "\n#C c", 3, kModeFamicom);
    EXPECT_EQ(bad.code, code) << text;
  }
}

TEST(TrackCompilerTest, StateStartsAfreshOnEveryChannel) {
  Compiled c("#A o2 l8 q8 c\n#B c", 2);
  ASSERT_EQ(c.code, 0);
  EXPECT_EQ(c.bytes(0), (std::vector<std::uint8_t>{24, 12, 0x80, 12, 0xFF}));
  EXPECT_EQ(c.bytes(1), (std::vector<std::uint8_t>{48, 48, 0xFF}));
}

TEST(TrackCompilerTest, DefaultDotsOfLAreNotApplied) {
  Compiled c("#A l4. c c8.", 1);
  ASSERT_EQ(c.code, 0);
  EXPECT_EQ(c.bytes(0), (std::vector<std::uint8_t>{0x30, 48, 0x30, 36, 0xFF}));
}

struct LengthCase {
  std::string text;
  int code;
  std::vector<std::uint8_t> bytes;  // channel 0 when the compile succeeds
};

class Lengths : public testing::TestWithParam<LengthCase> {};

TEST_P(Lengths, SumTiesWithoutOverflow) {
  Compiled c("#A " + GetParam().text, 1);
  EXPECT_EQ(c.code, GetParam().code);
  if (GetParam().code == 0) {
    EXPECT_EQ(c.bytes(0), GetParam().bytes);
  }
}

std::string ties(int wholeNotes) {
  std::string s = "c1";
  for (int i = 1; i < wholeNotes; ++i) s += "^1";
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, Lengths,
    testing::Values(LengthCase{ties(341), 0, {0x30, 0xFF, 0xFF, 0xC0, 0xFF}},
                    LengthCase{ties(342), ERR_LENGTH_OVERFLOW, {}},
                    // 64-bit sums: a chain far past 2^31 ticks still fails cleanly.
                    LengthCase{"c[200000 ^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1^1]",
                               ERR_LENGTH_OVERFLOW, {}},
                    // A gate split keeps both halves under the limit.
                    LengthCase{"q8 " + ties(682), 0, {0x30, 0xFF, 0xFF, 0xC0, 0x80, 0xFF, 0xFF, 0xC0, 0xFF}},
                    LengthCase{"q8 " + ties(683), ERR_LENGTH_OVERFLOW, {}},
                    // The length wraps in 32 bits: 2^32 + 1 reads as 1.
                    LengthCase{"c4294967297", ERR_LENGTH, {}},
                    LengthCase{"c-2147483648", ERR_LENGTH, {}},
                    LengthCase{"c1.......", ERR_LENGTH_DIVIDE, {}},
                    LengthCase{"c1......", 0, {0x30, 0xFF, 0x01, 0x7D, 0xFF}}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

TEST(TrackCompilerTest, OverflowIsReportedAfterTheWholeChain) {
  Compiled c("#A " + ties(342) + "\n#TITLE <t>", 1);
  EXPECT_EQ(c.code, ERR_LENGTH_OVERFLOW);
  EXPECT_EQ(c.line, 2);
  EXPECT_EQ(c.row, 0);  // the look-ahead for another '^' reached the end
}

// The note grammar runs on the run's bytes and on the reader alike: a command
// that line ends, comments and repeats cut apart reads as it reads whole, and
// a fault inside such a command is found at the same byte.
TEST(TrackCompilerTest, NoteCommandsReadTheSameWhereverTheTextBreaksThem) {
  for (const auto& [broken, whole] : std::vector<std::pair<std::string, std::string>>{
           {"o\n5 c", "o5 c"},
           {"c\n4 . d", "c4. d"},
           {"l{x}8 . c", "l8 c"},
           {"q[2 8 c]", "q8 c8 c"},
           {"c4^[2 8^]16 <d-", "c4^8^8^16 <d-"}}) {
    Compiled a("#A " + broken, 1), b("#A " + whole, 1);
    ASSERT_EQ(a.code, 0) << broken;
    EXPECT_EQ(a.bytes(0), b.bytes(0)) << broken;
  }
  struct Fault {
    std::string text;
    int code;
    std::int32_t line, row;
  };
  for (const Fault& f : std::vector<Fault>{{"c\no\n 9 c", ERR_OCTAVE, 3, 4},
                                           {"c[2 4^]5 c", ERR_LENGTH_DIVIDE, 1, 13},
                                           {"l 8 c{\n}q 17 c", ERR_GATE, 2, 7}}) {
    Compiled c("#A " + f.text, 1);
    EXPECT_EQ(c.code, f.code) << f.text;
    EXPECT_EQ(c.line, f.line) << f.text;
    EXPECT_EQ(c.row, f.row) << f.text;
  }
}

TEST(TrackCompilerTest, FullBuffersEndTheCompileWithMemoryError) {
  Compiled c("#A [100 cdefgab]", 1, kModeNormal, 1000);
  EXPECT_EQ(c.code, ERR_MEMORY);
  EXPECT_TRUE(c.tracks.failed());
  EXPECT_EQ(c.tracks.length(0), 1000);
  Compiled fits("#A [71 cdefgab]", 1, kModeNormal, 1000);  // 994 bytes and END
  EXPECT_EQ(fits.code, 0);
  EXPECT_EQ(fits.tracks.length(0), 995);
}

TEST(ChannelBuffersTest, GrowInStepsAndKeepChannelsApart) {
  ChannelBuffers b(3);
  EXPECT_EQ(b.count(), 3);
  EXPECT_FALSE(b.failed());
  EXPECT_EQ(b.capacity(0), 0);
  ASSERT_EQ(b.select(1), 1);
  for (int i = 0; i < 1025; ++i) b.put(i + 0x300);  // low 8 bits only
  EXPECT_EQ(b.length(1), 1025);
  EXPECT_EQ(b.capacity(1), 2048);
  EXPECT_EQ(b.select(3), 0);
  EXPECT_EQ(b.select(-1), 0);
  b.put(0x1FF);  // still into buffer 1
  ASSERT_EQ(b.select(2), 1);
  b.put(7);
  EXPECT_EQ(b.length(0), 0);
  EXPECT_EQ(b.length(1), 1026);
  EXPECT_EQ(b.length(2), 1);
  EXPECT_EQ(b.capacity(2), 1024);
  std::vector<std::uint8_t> out(1026);
  b.copyTo(1, out.data());
  for (std::size_t i = 0; i < 1025; ++i) ASSERT_EQ(out[i], static_cast<std::uint8_t>(i)) << i;
  EXPECT_EQ(out[1025], 0xFF);
}

TEST(ChannelBuffersTest, LimitMarksFailedAndDropsLaterBytes) {
  ChannelBuffers b(2, 1500);
  for (int i = 0; i < 1600; ++i) b.put(1);
  EXPECT_TRUE(b.failed());
  EXPECT_EQ(b.length(0), 1500);
  b.select(1);
  b.put(1);
  EXPECT_EQ(b.length(1), 0);
  ChannelBuffers none(-1);
  EXPECT_TRUE(none.failed());
  none.put(1);
}

}  // namespace
}  // namespace qvb
