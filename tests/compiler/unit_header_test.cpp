// Header directives and #WAV bodies, read from preprocessed, split text.
#include <gtest/gtest.h>

#include "tests/support/case_name.h"

#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_errors.h"
#include "compiler/mml_source.h"
#include "compiler/preprocess.h"
#include "compiler/song_header.h"

namespace qvb {
namespace {

struct Parsed {
  explicit Parsed(std::string_view text) : copy(text.begin(), text.end()) {
    copy.resize(text.size() + 2, 0);
    copy.shrink_to_fit();
    std::int32_t l = 0, r = 0;
    EXPECT_EQ(preprocess(copy, l, r), 0);
    EXPECT_EQ(source.split(copy.data()), 0);
    code = parseHeader(source, header);
    source.position(line, row);
  }
  std::string title() const { return std::string(header.title.begin(), header.title.end()); }
  std::vector<std::uint8_t> copy;
  MmlSource source;
  SongHeader header;
  int code = 0;
  std::int32_t line = 0, row = 0;
};

struct TitleCase {
  std::string text;
  std::string title;
};

class Titles : public testing::TestWithParam<TitleCase> {};

TEST_P(Titles, StoreRawBytes) {
  Parsed p(GetParam().text);
  EXPECT_EQ(p.code, 0);
  EXPECT_EQ(p.title(), GetParam().title);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Header, Titles,
    testing::Values(TitleCase{"#TITLE <My song>", "My song"}, TitleCase{"#TITLE <a\\>b>", "a>b"},
                    TitleCase{"#TITLE < x >", " x "}, TitleCase{"#TITLE <ab>\n#TITLE <cd>", "abcd"},
                    TitleCase{"#TITLE <a\\\\b>", "a\\b"}, TitleCase{"#TITLE<>", ""},
                    TitleCase{"# T I T L E <\x82>x>", "\x82>x"},
                    // A title left open takes the line end and the next line, which is
                    // then read again as the next header line.
                    TitleCase{"#TITLE <ab\n#TITLE <c>", "ab\r#TITLE <cc"},
                    // With CR LF the 0 left from the LF ends it.
                    TitleCase{"#TITLE <ab\r\n#CHANNEL 2", "ab\r"},
                    TitleCase{"#TITLE <a\tb>", "a b"}, TitleCase{"#TITLE <ab#END>", "ab"}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

struct ErrorCase {
  std::string text;
  int code;
  std::int32_t line, row;
};

class HeaderErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(HeaderErrors, StopAtTheFault) {
  Parsed p(GetParam().text);
  EXPECT_EQ(p.code, GetParam().code);
  EXPECT_EQ(p.line, GetParam().line);
  EXPECT_EQ(p.row, GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    Header, HeaderErrors,
    testing::Values(ErrorCase{"#TITLE <ab{x}cd>", ERR_HEADER, 1, 14},
                    ErrorCase{"#TEMPO 3", ERR_HEADER, 1, 3},
                    ErrorCase{"#CHANNEL 3 x", ERR_HEADER, 1, 12},
                    ErrorCase{"c\n#TITLE <t>", ERR_HEADER, 1, 1},
                    ErrorCase{"#XY", ERR_HEADER, 1, 2},
                    ErrorCase{"#TITLE x", ERR_TITLE, 1, 8},
                    ErrorCase{"#TITLE <abc", ERR_TITLE, 1, 12},
                    ErrorCase{"#TITLE <ab\\", ERR_TITLE, 1, 13},
                    ErrorCase{"#TITLE <ab\xE0", ERR_TITLE, 1, 13},
                    ErrorCase{"#CHANNEL 0 #TITLE <t>", ERR_CHANNEL, 1, 12},
                    ErrorCase{"#CHANNEL -2\n#TITLE <t>", ERR_CHANNEL, 2, 1},
                    ErrorCase{"#CHANNEL x", ERR_CHANNEL, 1, 10},
                    ErrorCase{"#CHANNEL 4294967296 #", ERR_CHANNEL, 1, 21},
                    ErrorCase{"#CHANNEL 0", ERR_CHANNEL, 1, 0},
                    ErrorCase{"#PRAGMA FAMILY", ERR_PRAGMA, 1, 13},
                    ErrorCase{"#WAV 256,<>", ERR_WAV_SYNTAX, 1, 9},
                    ErrorCase{"#WAV 0,<128>", ERR_WAV_SYNTAX, 1, 12},
                    ErrorCase{"#WAV 0,<,1>", ERR_WAV_SYNTAX, 1, 9},
                    ErrorCase{"#WAV 0,<1,,2>", ERR_WAV_SYNTAX, 1, 11},
                    ErrorCase{"#WAV 0,<(-129,0),2>", ERR_WAV_SYNTAX, 1, 14},
                    ErrorCase{"#WAV 0,<(0,0),-3>", ERR_WAV_SYNTAX, 1, 17},
                    ErrorCase{"#WAV 0 <>", ERR_WAV_SYNTAX, 1, 8},
                    ErrorCase{"#WAV 0,<1,2,3>", ERR_WAV_COUNT, 1, 14},
                    ErrorCase{"#WAV 0,<>", ERR_WAV_COUNT, 1, 9},
                    // 288 values would wrap a one-byte count to 32.
                    ErrorCase{"#WAV 0,<[9 (0,0),32,]>", ERR_WAV_COUNT, 1, 22},
                    ErrorCase{"#WAV 0,<(0,1),2000000000>", ERR_WAV_COUNT, 1, 25},
                    ErrorCase{"#CHANNEL 2\n#WAV", ERR_WAV_SYNTAX, 1, 0}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

TEST(HeaderTest, LaterChannelReplacesAndPragmaSetsTheMode) {
  Parsed p("#CHANNEL 4 #CHANNEL3\n#PRAGMA FAMICOM #PRAGMA FAMICOM");
  EXPECT_EQ(p.code, 0);
  EXPECT_EQ(p.header.channelCount, 3);
  EXPECT_EQ(p.header.mode, kModeFamicom);
  EXPECT_TRUE(p.header.title.empty());
}

TEST(HeaderTest, EmptyHeaderLeavesDefaults) {
  Parsed p("{only a comment}\n\n");
  EXPECT_EQ(p.code, 0);
  EXPECT_EQ(p.header.channelCount, -1);
  EXPECT_EQ(p.header.mode, kModeNormal);
}

std::vector<int> samplesOf(const WaveDef& w) { return std::vector<int>(w.samples.begin(), w.samples.end()); }

TEST(WaveTest, RampsRiseAndFallInTruncatedSteps) {
  Parsed p("#WAV 0,<(0,15),16,(15,0),16>\n#WAV 7,<(0,15),4,(0,-7),3,(-128,127),25,>");
  ASSERT_EQ(p.code, 0);
  ASSERT_EQ(p.header.waves.size(), 2u);
  std::vector<int> first;
  for (int i = 0; i < 16; ++i) first.push_back(15 * i / 15);
  for (int i = 0; i < 16; ++i) first.push_back(15 - 15 * i / 15);
  EXPECT_EQ(samplesOf(p.header.waves[0]), first);
  const WaveDef& w = p.header.waves[1];
  EXPECT_EQ(w.index, 7);
  EXPECT_EQ(w.count, 32);
  const std::vector<int> head{0, 5, 10, 15, 0, -3, -7, -128, -118};  // -128 + 255 * 1 / 24 = -118
  const std::vector<int> all = samplesOf(w);
  EXPECT_EQ(std::vector<int>(all.begin(), all.begin() + 9), head);
  EXPECT_EQ(w.samples[31], 127);
}

TEST(WaveTest, RampEndOutsideAByteKeepsTheLowBits) {
  // 0, 300 in two steps: 0 and 300 -> 0x2C; 1000 over three values: 0, 500 -> 0xF4, 1000 -> 0xE8.
  Parsed p("#WAV 1,<(0,300),2,(0,1000),3,[27 1,]>");
  ASSERT_EQ(p.code, 0);
  const std::vector<int> head{0, 44, 0, -12, -24, 1};
  const std::vector<int> all = samplesOf(p.header.waves[0]);
  EXPECT_EQ(std::vector<int>(all.begin(), all.begin() + 6), head);
}

TEST(WaveTest, RepeatBracketsAndLinesFeedOneDefinition) {
  Parsed p("#WAV 2,<[16 -1,1,]>\n#WAV 3,\n<[31 5,]\n  -5>");
  ASSERT_EQ(p.code, 0);
  ASSERT_EQ(p.header.waves.size(), 2u);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(p.header.waves[0].samples[i], i % 2 ? 1 : -1);
  EXPECT_EQ(p.header.waves[1].samples[30], 5);
  EXPECT_EQ(p.header.waves[1].samples[31], -5);
}

}  // namespace
}  // namespace qvb
