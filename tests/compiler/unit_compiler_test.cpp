// The compile driver: the order of its checks, the codes and places it
// reports, and the image it assembles.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/compile_errors.h"
#include "compiler/mml_compiler.h"
#include "tests/compiler/compile_fixture.h"
#include "tests/support/case_name.h"

namespace qvb {
namespace {

using test::compileSource;
using Outcome = test::CompileResult;

TEST(MmlCompilerTest, EvenTitleAndWavesAndEmptyMiddleChannel) {
  const std::string wave = "#WAV 3,<(0,15),16,(15,0),16>\n";
  const Outcome out = compileSource("#TITLE <ab>\n#CHANNEL 3\n" + wave + wave + "#A c\n#C r\n");
  ASSERT_EQ(out.status, 0);
  // 18 + 2 title bytes, no pad; table at 22 for three channels.
  ASSERT_EQ(out.image.size(), 24u + 2 + 24 + 3 + 1 + 3 + 2 + 68);
  EXPECT_EQ(out.image[16], 0);
  EXPECT_EQ(out.image[17], 2);
  EXPECT_EQ(out.image[20], 0);
  EXPECT_EQ(out.image[21], 3);
  const std::size_t d = 50;  // 24 + 2 + 8 * 3
  const std::vector<std::uint8_t> table{0, 0, 0, d, 0, 0, 0, 3, 0, 0, 0, d + 3, 0, 0, 0, 1,
                                        0, 0, 0, d + 4, 0, 0, 0, 3, 0, 0, 0, d + 7};
  EXPECT_EQ(std::vector<std::uint8_t>(out.image.begin() + 22, out.image.begin() + 50), table);
  const std::vector<std::uint8_t> tracks{0x30, 0x30, 0xFF, 0xFF, 0x80, 0x30, 0xFF};
  EXPECT_EQ(std::vector<std::uint8_t>(out.image.begin() + 50, out.image.begin() + 57), tracks);
  EXPECT_EQ(out.image[57], 0);
  EXPECT_EQ(out.image[58], 2);
  for (std::size_t record : {59u, 93u}) {
    EXPECT_EQ(out.image[record], 3);
    EXPECT_EQ(out.image[record + 1], 32);
    EXPECT_EQ(out.image[record + 2 + 15], 15);  // top of the rise
    EXPECT_EQ(out.image[record + 2 + 31], 0);
  }
}

// A long comment makes the work copy larger than the image, which is then
// written into it: none of the source's bytes may show through (the title's
// pad byte, the gaps), so the image equals the one written fresh.
TEST(MmlCompilerTest, ImageInTheWorkCopyEqualsAFreshOne) {
  const std::string song = "#TITLE <abc>\n#CHANNEL 2\n#WAV 1,<(0,15),32>\n#A c8 [3 d e]\n#B r4";
  const Outcome fresh = compileSource(song);
  const Outcome inPlace = compileSource(song + "{" + std::string(4096, 'x') + "}");
  ASSERT_EQ(fresh.status, 0);
  ASSERT_GT(fresh.image.size(), song.size() + MmlCompiler::kWorkCopyExtra);
  EXPECT_EQ(fresh.image[21], 0);  // the pad after an odd title
  EXPECT_EQ(inPlace.image, fresh.image);
}

struct ErrorCase {
  std::string_view text;
  int code, line, row;
};

class DriverErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(DriverErrors, ReportsCodeLineAndRow) {
  const ErrorCase& c = GetParam();
  const Outcome out = compileSource(c.text);
  EXPECT_EQ(out.status, c.code);
  EXPECT_EQ(out.error.type, c.code);
  EXPECT_EQ(out.error.line, c.line);
  EXPECT_EQ(out.error.row, c.row);
  EXPECT_TRUE(out.image.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, DriverErrors,
    testing::Values(ErrorCase{"#CHANNEL 1\n#A c", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
                    ErrorCase{"#TITLE <>\n#CHANNEL 1\n#A c", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
                    ErrorCase{"#TITLE <t>\n#A c", ERR_NO_TITLE_OR_CHANNEL, 0, 0},
                    ErrorCase{"#TITLE <t>\n#PRAGMA FAMICOM\n#CHANNEL 4\n#A c\n#D c", ERR_CHANNEL_COUNT, 0, 0},
                    ErrorCase{"#TITLE <t>\n#CHANNEL 3\n#A c\n#B c", ERR_CHANNEL_COUNT, 0, 0},
                    ErrorCase{"#TITLE <t>\n#CHANNEL 3\n#A c\n#D c", ERR_CHANNEL_COUNT, 0, 0},
                    ErrorCase{"#TITLE <t>\n#CHANNEL 27\n#A c\n#Z c", ERR_CHANNEL_COUNT, 0, 0},
                    ErrorCase{"\n\n\n\n\n\n#1 c\n", ERR_CHANNEL_MARKER, 7, 0},
                    ErrorCase{"#TITLE <t>\n}", ERR_BRACE, 2, 1},
                    ErrorCase{"#TITLE <t>\r\n{", ERR_COMMENT_OPEN, 2, 2},
                    // End of a channel: reported at the first header line, row 0.
                    ErrorCase{"#A /: c\n#TITLE <t>\n#CHANNEL 1", ERR_LOOP_OPEN, 2, 0},
                    // CR LF lines start with the 0 left from the LF: one row more.
                    ErrorCase{"#TITLE <t>\n#CHANNEL 1\n#A  x", ERR_SYNTAX, 3, 5},
                    ErrorCase{"#TITLE <t>\r\n#CHANNEL 1\r\n#A  x", ERR_SYNTAX, 3, 6},
                    ErrorCase{"#TITLE <t>\n#CHANNEL 1 x\n#A c", ERR_HEADER, 2, 12},
                    // A ramp needs at least its two ends; the held '>' counts as read.
                    ErrorCase{"#TITLE <t>\n#WAV 0,<(0,1),0>", ERR_WAV_SYNTAX, 2, 16},
                    ErrorCase{"#TITLE <t>\n#WAV 0,<(0,1),1>", ERR_WAV_SYNTAX, 2, 16}),
    [](const auto& p) { return test::caseName(p.index, p.param.text); });

TEST(MmlCompilerTest, TitleLongerThanItsFieldIsRefused) {
  const std::string fits = "#TITLE <" + std::string(65535, 'x') + ">\n#CHANNEL 1\n#A c";
  const Outcome ok = compileSource(fits);
  ASSERT_EQ(ok.status, 0);
  EXPECT_EQ(ok.image[16], 0xFF);
  EXPECT_EQ(ok.image[17], 0xFF);
  const std::string tooLong = "#TITLE <" + std::string(65536, 'x') + ">\n#CHANNEL 1\n#A c";
  const Outcome out = compileSource(tooLong);
  EXPECT_EQ(out.status, ERR_TITLE_TOO_LONG);
  EXPECT_EQ(out.error.line, 1);
  EXPECT_EQ(out.error.row, 8 + 65536);  // at the byte that does not fit
}

TEST(MmlCompilerTest, MoreThan255WavesAreRefused) {
  std::string source = "#TITLE <t>\n#CHANNEL 1\n";
  for (int i = 0; i < 255; ++i) source += "#WAV 1,<[32 0,]>\n";
  const Outcome ok = compileSource(source + "#A c");
  ASSERT_EQ(ok.status, 0);
  EXPECT_EQ(ok.image.size(), 41u - 2 + 255 * 34);  // one-byte title padded, as the minimal image
  source += "#WAV 1,<[32 0,]>\n";
  const Outcome out = compileSource(source + "#A c");
  EXPECT_EQ(out.status, ERR_TOO_MANY_WAVES);
  EXPECT_EQ(out.error.line, 2 + 256);
  EXPECT_EQ(out.error.row, 16);
}

// A repeat that would read its body again for hours is cut off once the
// repeats have read again what the compile's budget allows (a base and a share
// per source byte); it is reported at its bracket. Each pass of `[n o4]`
// after the first reads three bytes again.
std::string repeatOfO4(std::uint64_t count, std::size_t pad) {
  return "#TITLE <a>\n#CHANNEL 1\n#A c [" + std::to_string(count) + "o4]" + std::string(pad, ' ');
}

TEST(MmlCompilerTest, RepeatsPlayUpToTheReplayBudgetAndNoFurther) {
  // Pad the source so that the budget is a whole number of passes.
  std::size_t pad = 0;
  std::uint64_t passes = 0;
  for (; pad < 3; ++pad) {
    const std::uint64_t budget = replayBudgetFor(repeatOfO4(kReplayBudgetBase / 3, pad).size());
    if (budget % 3 == 0) {
      passes = budget / 3;
      break;
    }
  }
  ASSERT_GT(passes, 0u);
  const std::string atLimit = repeatOfO4(passes + 1, pad);
  ASSERT_EQ(replayBudgetFor(atLimit.size()), 3 * passes);
  EXPECT_EQ(compileSource(atLimit).status, 0);
  const Outcome over = compileSource(repeatOfO4(passes + 2, pad));
  EXPECT_EQ(over.status, ERR_REPEAT_LIMIT);
  EXPECT_EQ(over.error.line, 3);
  EXPECT_EQ(over.error.row, 6);  // the '['
}

TEST(CompileErrorsTest, EveryCodeHasOneUniqueNamedEntry) {
  std::set<int> codes;
  std::set<std::string_view> names;
  for (const ErrorCodeInfo& info : errorCodes()) {
    EXPECT_LT(info.code, 0);
    EXPECT_FALSE(info.meaning.empty());
    EXPECT_TRUE(info.name.starts_with("ERR_")) << info.name;
    codes.insert(info.code);
    names.insert(info.name);
    EXPECT_EQ(findErrorCode(info.code), &info);
  }
  EXPECT_EQ(codes.size(), errorCodes().size());
  EXPECT_EQ(names.size(), errorCodes().size());
  for (int code : {-1, -7, -256, -262, -512, -524, -768, -773}) EXPECT_NE(findErrorCode(code), nullptr) << code;
  for (int code : {0, 1, -8, -263, -525, -774, -1024}) EXPECT_EQ(findErrorCode(code), nullptr) << code;
}

}  // namespace
}  // namespace qvb
