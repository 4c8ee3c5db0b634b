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

const std::string kHead = "#TITLE <t>\n#CHANNEL 1\n";

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
