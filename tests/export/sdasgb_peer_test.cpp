// The exporter's text assembled by the Game Boy assembler of the SDCC
// toolchain: the object's bytes must be the size words and the channel data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "export/asm_exporter.h"
#include "tests/support/case_name.h"
#include "tests/support/qvb_image_builder.h"
#include "tests/support/run_process.h"

namespace qvb {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path == nullptr ? "" : path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / program;
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
  }
  return "";
}

// The bytes of an object file's T records, checked to follow each other from
// address 0 in the one area the text creates.
::testing::AssertionResult objectBytes(const std::string& rel, Bytes& bytes) {
  std::istringstream lines(rel);
  int addressBytes = 2;
  std::map<unsigned, std::uint8_t> memory;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() >= 3 && line[0] == 'X' && line[2] == '3') addressBytes = 3;
    if (line.size() >= 3 && line[0] == 'X' && line[2] == '4') addressBytes = 4;
    if (line.rfind("T ", 0) != 0) continue;
    std::istringstream fields(line.substr(2));
    std::vector<unsigned> values;
    for (std::string hex; fields >> hex;) values.push_back(static_cast<unsigned>(std::stoul(hex, nullptr, 16)));
    if (values.size() < static_cast<std::size_t>(addressBytes))
      return ::testing::AssertionFailure() << "short T record: " << line;
    unsigned address = 0;
    for (int i = addressBytes - 1; i >= 0; --i) address = (address << 8) | values[i];
    for (std::size_t i = addressBytes; i < values.size(); ++i)
      if (!memory.emplace(address++, static_cast<std::uint8_t>(values[i])).second)
        return ::testing::AssertionFailure() << "address written twice: " << line;
  }
  bytes.clear();
  for (const auto& [address, value] : memory) {
    if (address != bytes.size()) return ::testing::AssertionFailure() << "gap before " << address;
    bytes.push_back(value);
  }
  return ::testing::AssertionSuccess();
}

struct PeerCase {
  const char* title;
  std::vector<std::size_t> lengths;  // block lengths of the three channels
};

class SdasgbPeer : public testing::TestWithParam<PeerCase> {};

TEST_P(SdasgbPeer, AssembledBytesAreSizeWordsAndChannelData) {
  const std::string assembler = findOnPath("sdasgb");
  ASSERT_FALSE(assembler.empty()) << "sdasgb is not on PATH; install the sdcc package "
                                     "(scripts/install-deps.sh does)";
  test::ImageContents contents;
  contents.versionMajor = 0;
  contents.versionMinor = 81;
  contents.title = GetParam().title;
  unsigned seed = 12345;
  Bytes expected;
  for (std::size_t length : GetParam().lengths) {
    Bytes block(length);
    for (std::uint8_t& b : block) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    const std::size_t count = length - 2;
    expected.push_back(static_cast<std::uint8_t>(count & 0xff));
    expected.push_back(static_cast<std::uint8_t>(count >> 8));
    contents.channels.push_back(std::move(block));
  }
  for (const Bytes& block : contents.channels) expected.insert(expected.end(), block.begin() + 2, block.end());

  const Bytes image = test::buildImage(contents);
  std::string text;
  ASSERT_EQ(AsmExporter::convert(text, image.data(), image.size()), ASM_CONVERTED);

  // The text is assembled as written: no .module or .area lines are added.
  const std::string dir = test::makeTempDir();
  test::writeFile(dir + "/song.asm", text);
  const test::ProcessResult run = test::runProcess({assembler, "-o", "song.rel", "song.asm"}, dir);
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
  const std::string rel = test::readFile(dir + "/song.rel");
  std::filesystem::remove_all(dir);

  EXPECT_NE(rel.find("S " + std::string(GetParam().title) + " Def000000"), std::string::npos) << rel;
  Bytes assembled;
  ASSERT_TRUE(objectBytes(rel, assembled)) << rel;
  EXPECT_EQ(assembled, expected);
}

INSTANTIATE_TEST_SUITE_P(Export, SdasgbPeer,
                         testing::Values(PeerCase{"song", {5, 10, 2}},
                                         PeerCase{"tune_2", {11, 3, 300}},
                                         PeerCase{"Level1Theme", {2, 2, 2}},
                                         PeerCase{"big", {2, 4099, 77}}),
    [](const auto& p) { return test::caseName(p.index, p.param.title); });

}  // namespace
}  // namespace qvb
