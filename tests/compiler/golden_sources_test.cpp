// Golden images for whole sources: the exact bytes of small images, and the
// title, channel blocks and wave records of sources that exercise the header
// directives, channel markers and line ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/compiler/compile_fixture.h"
#include "tests/support/minimal_song.h"

namespace qvb::test {
namespace {

Bytes withMagic(std::initializer_list<std::uint8_t> rest) {
  Bytes bytes{'Q', 'u', 'a', 'v', 'e', 'r', 'M', 'a', 'c', 'h', 'i', 'n', 'e', 0};
  bytes.insert(bytes.end(), rest);
  return bytes;
}


struct ExactCase {
  std::string name;
  std::string source;
  Bytes expected;
};

class GoldenImage : public testing::TestWithParam<ExactCase> {};

TEST_P(GoldenImage, BytesMatch) {
  const ExactCase& c = GetParam();
  const CompileResult result = compileSource(c.source);
  ASSERT_EQ(result.status, 0) << "code " << result.error.type << " at line " << result.error.line << " row "
                              << result.error.row;
  EXPECT_EQ(hex(result.image), hex(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, GoldenImage,
    testing::Values(ExactCase{"Minimal", kMinimalSource, kMinimalImage},
                    ExactCase{"MinimalNoFinalLineEnd", "#TITLE <a>\n#CHANNEL 1\n#A v 15 c", kMinimalImage},
                    ExactCase{"MinimalCrLf", "#TITLE <a>\r\n#CHANNEL 1\r\n#A v 15 c\r\n", kMinimalImage},
                    ExactCase{"MinimalTabsAndComments", "{song}#TITLE\t<a>\n#CHANNEL {x} 1\n#A v\t15 c {end}",
                              kMinimalImage},
                    ExactCase{"EvenTitleNoPad", "#TITLE <ab>\n#CHANNEL 1\n#A c\n",
                              withMagic({0x00, 0x55, 0x00, 0x02, 0x61, 0x62, 0x00, 0x01, 0x00, 0x00, 0x00, 0x22, 0x00,
                                         0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x25, 0x30, 0x30, 0xFF, 0x00, 0x00})}),
    [](const testing::TestParamInfo<ExactCase>& p) { return p.param.name; });

struct SourceCase {
  std::string name;
  std::string source;
  std::string title;
  std::vector<Bytes> channels;
  std::vector<Bytes> waves;  // whole 34-byte records
};

Bytes wave(std::uint8_t index, std::initializer_list<Bytes> pieces) {
  Bytes record{index, 32};
  for (const Bytes& piece : pieces) record.insert(record.end(), piece.begin(), piece.end());
  return record;
}

Bytes times(int count, Bytes unit) {
  Bytes bytes;
  for (int i = 0; i < count; ++i) bytes.insert(bytes.end(), unit.begin(), unit.end());
  return bytes;
}

const std::vector<SourceCase>& sourceCases() {
  static const std::string kHead = "#TITLE <t>\n#CHANNEL 1\n";
  static const std::vector<SourceCase> cases = {
      // Channel markers and the split into channels.
      {"ChannelLinesSpreadOverFile", "#TITLE <t>\n#CHANNEL 2\n#A cde\n fg\n#B ab\n#A c\n", "t",
       {{0x30, 0x30, 0x32, 0x30, 0x34, 0x30, 0x35, 0x30, 0x37, 0x30, 0x30, 0x30, 0xFF}, {0x39, 0x30, 0x3B, 0x30, 0xFF}},
       {}},
      {"LowerCaseMarker", kHead + "#a c\n", "t", {{0x30, 0x30, 0xFF}}, {}},
      {"MarkerOnItsOwnLine", kHead + "#A\nc d\n", "t", {{0x30, 0x30, 0x32, 0x30, 0xFF}}, {}},
      {"EmptyMiddleChannel", "#TITLE <t>\n#CHANNEL 3\n#A c\n#C d\n", "t",
       {{0x30, 0x30, 0xFF}, {0xFF}, {0x32, 0x30, 0xFF}}, {}},
      {"NothingAfterEnd", kHead + "#A c\n#END\n#B d\n", "t", {{0x30, 0x30, 0xFF}}, {}},
      {"CrLfLineEnds", "#TITLE <t>\r\n#CHANNEL 2\r\n#A c\r\n#B d\r\n", "t", {{0x30, 0x30, 0xFF}, {0x32, 0x30, 0xFF}},
       {}},
      // Titles are taken raw: spaces stay, a backslash takes the next byte.
      {"TitleWithSpace", "#TITLE <My song>\n#CHANNEL 1\n#A c\n", "My song", {{0x30, 0x30, 0xFF}}, {}},
      {"TitleEscapedClose", "#TITLE <a\\>b>\n#CHANNEL 1\n#A c\n", "a>b", {{0x30, 0x30, 0xFF}}, {}},
      {"TitleEscapedBackslash", "#TITLE <a\\\\b>\n#CHANNEL 1\n#A c\n", "a\\b", {{0x30, 0x30, 0xFF}}, {}},
      {"TitleKeepsSpaces", "#TITLE < x >\n#CHANNEL 1\n#A c\n", " x ", {{0x30, 0x30, 0xFF}}, {}},
      {"TitlesAppend", "#TITLE <ab>\n#TITLE <cd>\n#CHANNEL 1\n#A c\n", "abcd", {{0x30, 0x30, 0xFF}}, {}},
      {"TitleTwoByteCharTakesClose", "#TITLE <\x82>>\n#CHANNEL 1\n#A c\n", "\x82>", {{0x30, 0x30, 0xFF}}, {}},
      {"EmptyTitleThenTitle", "#TITLE <>\n#TITLE <x>\n#CHANNEL 1\n#A c\n", "x", {{0x30, 0x30, 0xFF}}, {}},
      // Directive words may be spaced out, glued to their number, share lines.
      {"SpacedWordGluedNumber", "# T I T L E <t>\n#CHANNEL1\n#A c\n", "t", {{0x30, 0x30, 0xFF}}, {}},
      {"LaterChannelCountWins", "#TITLE <t> #CHANNEL 2 #CHANNEL 1\n#A c\n", "t", {{0x30, 0x30, 0xFF}}, {}},
      {"DirectiveOverLines", "#TITLE <t>\n#CHANNEL\n 1\n#A c\n", "t", {{0x30, 0x30, 0xFF}}, {}},
      // FAMICOM: voice prefix per channel, duties 2, 4, 6, 7 on the pulses.
      {"Famicom", "#TITLE <f>\n#CHANNEL 3\n#PRAGMA FAMICOM\n#A @7 c\n#B @2 @4 @6 d\n#C e\n", "f",
       {{0xFE, 0x01, 0xFD, 0x07, 0x30, 0x30, 0xFF},
        {0xFE, 0x01, 0xFD, 0x02, 0xFD, 0x04, 0xFD, 0x06, 0x32, 0x30, 0xFF},
        {0xFE, 0x03, 0x34, 0x30, 0xFF}},
       {}},
      {"FamicomTwiceEmptyChannels", "#TITLE <f>\n#PRAGMA FAMICOM #PRAGMA FAMICOM\n#CHANNEL 3\n#C c\n", "f",
       {{0xFE, 0x01, 0xFF}, {0xFE, 0x01, 0xFF}, {0xFE, 0x03, 0x30, 0x30, 0xFF}}, {}},
      // Wave definitions: values, ramps, repeat brackets, several lines.
      {"WaveRampUpAndDown", kHead + "#WAV 0,<(0,15),16,(15,0),16>\n#A c\n", "t", {{0x30, 0x30, 0xFF}},
       {wave(0, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                 {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}})}},
      {"WaveRampShapes", kHead + "#WAV 7,<(0,15),4,(0,-7),3,(0,1000),2,[23 1,]>\n#A c\n", "t", {{0x30, 0x30, 0xFF}},
       {wave(7, {{0x00, 0x05, 0x0A, 0x0F, 0x00, 0xFD, 0xF9, 0x00, 0xE8}, times(23, {0x01})})}},
      {"WaveLimitsAndSpaces", kHead + "#WAV 255 , < -128 , 127 , [30 0,] >\n#A c\n", "t", {{0x30, 0x30, 0xFF}},
       {wave(255, {{0x80, 0x7F}, times(30, {0x00})})}},
      {"WaveThroughRepeat", kHead + "#WAV 0,<[16 -1,1,]>\n#A c\n", "t", {{0x30, 0x30, 0xFF}},
       {wave(0, {times(16, {0xFF, 0x01})})}},
      {"WaveOverLines", kHead + "#WAV 1,<\n0,1,2,3,4,5,6,7,\n0,1,2,3,4,5,6,7,\n0,1,2,3,4,5,6,7,\n0,1,2,3,4,5,6,7\n>\n#A c\n",
       "t", {{0x30, 0x30, 0xFF}}, {wave(1, {times(4, {0, 1, 2, 3, 4, 5, 6, 7})})}},
      {"TwoWavesInSourceOrder", kHead + "#WAV 3,<[32 1,]>\n#WAV 3,<[32 -1,]>\n#A c\n", "t", {{0x30, 0x30, 0xFF}},
       {wave(3, {times(32, {0x01})}), wave(3, {times(32, {0xFF})})}},
  };
  return cases;
}

class GoldenSource : public testing::TestWithParam<SourceCase> {};

TEST_P(GoldenSource, PartsMatch) {
  const SourceCase& c = GetParam();
  const CompileResult result = compileSource(c.source);
  ASSERT_EQ(result.status, 0) << "code " << result.error.type << " at line " << result.error.line << " row "
                              << result.error.row;
  const ImageParts parts = splitImage(result.image);
  ASSERT_EQ(parts.problem, "");
  EXPECT_EQ(parts.versionMajor, 0);
  EXPECT_EQ(parts.versionMinor, 85);
  EXPECT_EQ(parts.title, c.title);
  ASSERT_EQ(parts.channels.size(), c.channels.size());
  for (std::size_t k = 0; k < c.channels.size(); ++k) {
    EXPECT_EQ(hex(parts.channels[k]), hex(c.channels[k])) << "channel " << k;
  }
  ASSERT_EQ(parts.waves.size(), c.waves.size());
  for (std::size_t j = 0; j < c.waves.size(); ++j) EXPECT_EQ(hex(parts.waves[j]), hex(c.waves[j])) << "wave " << j;
}

INSTANTIATE_TEST_SUITE_P(Sources, GoldenSource, testing::ValuesIn(sourceCases()),
                         [](const testing::TestParamInfo<SourceCase>& p) { return p.param.name; });

TEST(CompilerStatus, NullTextCompilesNothing) {
  const MmlCompiler compiler(nullptr, 0);
  EXPECT_EQ(compiler.status(), 1);
  CompileError info{7, 8, 9};
  EXPECT_EQ(compiler.errorInfo(info), 0);
  EXPECT_EQ(info.type, 7);
  EXPECT_EQ(compiler.imageSize(), 0);
  std::uint8_t untouched = 0xAA;
  EXPECT_EQ(compiler.copyImage(&untouched), 0);
  EXPECT_EQ(untouched, 0xAA);
}

TEST(CompilerStatus, FailedCompileHandsOutNoImage) {
  const std::string source = "#TITLE <t>\n#CHANNEL 1\n#A x\n";
  const MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()),
                             static_cast<std::int32_t>(source.size()));
  EXPECT_LT(compiler.status(), 0);
  EXPECT_EQ(compiler.imageSize(), 0);
  std::uint8_t untouched = 0xAA;
  EXPECT_EQ(compiler.copyImage(&untouched), 0);
  EXPECT_EQ(untouched, 0xAA);
}

}  // namespace
}  // namespace qvb::test
