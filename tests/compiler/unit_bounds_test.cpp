// Bounds on what a source can make the compiler do: numbers beyond 32 bits
// are refused instead of wrapping to another valid value, an over-full wave
// definition stops its repeat, and the checked-in regression sources end with
// a defined status after work linear in their size.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compiler/compile_errors.h"
#include "compiler/mml_compiler.h"
#include "tests/compiler/compile_fixture.h"

namespace qvb::test {
namespace {

struct NumberCase {
  std::string name;
  std::string source;
  int code;
  int line;
  int row;
};

const std::string kHead = "#TITLE <t>\n#CHANNEL 1\n";

class NumbersBeyond32Bits : public testing::TestWithParam<NumberCase> {};

TEST_P(NumbersBeyond32Bits, AreRefusedWhereTheyStand) {
  const NumberCase& c = GetParam();
  const CompileResult result = compileSource(c.source);
  EXPECT_EQ(result.status, c.code);
  EXPECT_EQ(result.error.line, c.line);
  EXPECT_EQ(result.error.row, c.row);
}

// Each of these numbers, taken modulo 2^32, would be a valid value.
INSTANTIATE_TEST_SUITE_P(
    Bounds, NumbersBeyond32Bits,
    testing::Values(
        NumberCase{"Tempo", kHead + "#A t4294967416 c\n", ERR_TEMPO, 3, 16},
        NumberCase{"Volume", kHead + "#A v4294967311 c\n", ERR_VOLUME, 3, 16},
        NumberCase{"NoteLength", kHead + "#A c4294967344 d\n", ERR_LENGTH, 3, 16},
        NumberCase{"Detune", kHead + "#A k-4294967295 c\n", ERR_DETUNE, 3, 17},
        NumberCase{"Vibrato", kHead + "#A mp4294967297 c\n", ERR_VIBRATO, 3, 17},
        NumberCase{"ChannelCount", "#CHANNEL 4294967297 #TITLE <t>\n#A c\n", ERR_CHANNEL, 1, 21},
        // The largest count that fits is no range error: the channels must match it.
        NumberCase{"ChannelCountLargestThatFits", "#CHANNEL 2147483647 #TITLE <t>\n#A c\n", ERR_CHANNEL_COUNT, 0, 0},
        NumberCase{"ChannelCountOnePastIt", "#CHANNEL 2147483648 #TITLE <t>\n#A c\n", ERR_CHANNEL, 1, 21},
        NumberCase{"WaveIndex", kHead + "#WAV 4294967296,<[32 0,]>\n#A c\n", ERR_WAV_SYNTAX, 3, 16},
        NumberCase{"WaveRampEnd", kHead + "#WAV 0,<(0,2147483648),32>\n#A c\n", ERR_WAV_SYNTAX, 3, 22},
        NumberCase{"WaveRampCount", kHead + "#WAV 0,<(0,1),4294967328>\n#A c\n", ERR_WAV_SYNTAX, 3, 25},
        // A repeat count saturates, so the repeat runs into the replay budget.
        NumberCase{"RepeatCount", kHead + "#A [4294967295 c]\n", ERR_REPEAT_LIMIT, 3, 4}),
    [](const testing::TestParamInfo<NumberCase>& p) { return p.param.name; });

TEST(NumbersBeyond32Bits, RampEndThatFitsStillCompiles) {
  EXPECT_EQ(compileSource(kHead + "#WAV 0,<(0,2147483647),32>\n#A c\n").status, 0);
}

// The repeat would give two thousand million values; the definition is
// refused at its end as soon as it holds one value too many.
TEST(WaveBounds, OverFullDefinitionLeavesItsRepeat) {
  const std::string source = "#TITLE <a>\n#WAV 0,<[2000000000 1,]>\n#CHANNEL 1\n#A v15 c\n";
  MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()), static_cast<std::int32_t>(source.size()));
  CompileError error;
  ASSERT_EQ(compiler.errorInfo(error), 1);
  EXPECT_EQ(error.type, ERR_WAV_COUNT);
  EXPECT_EQ(error.line, 2);
  EXPECT_EQ(error.row, 24);  // the '>'
  EXPECT_LT(compiler.readSteps(), 33u * 4 + source.size());
}

std::vector<std::filesystem::path> regressionSources() {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(QVBP_SOURCE_DIR "/fuzz/regressions/fuzz_compiler"))
    if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Each source once took the compiler seconds. Now each compiles or is
// refused with a code of the table, having read every source byte at most
// twice (a title may run into the lines after it) plus what the repeats may
// read again.
TEST(RegressionSources, EndWithADefinedStatusAfterBoundedWork) {
  const std::vector<std::filesystem::path> paths = regressionSources();
  ASSERT_FALSE(paths.empty());
  for (const std::filesystem::path& path : paths) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const MmlCompiler compiler(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    const std::string name = path.filename().string();
    EXPECT_TRUE(compiler.status() == 0 || findErrorCode(compiler.status()) != nullptr) << name;
    EXPECT_LE(compiler.readSteps(), 2 * (bytes.size() + 2) + replayBudgetFor(bytes.size()) + 1) << name;
  }
}

}  // namespace
}  // namespace qvb::test
