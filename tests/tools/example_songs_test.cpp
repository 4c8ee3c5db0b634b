// Every example song is one a newcomer can learn from as it stands: it
// compiles without a warning, renders through the render session into a
// short, audible loop with all channels in step, compiles with qvbp to the
// image the other hosts play, and is described in examples/README.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compiler/song_warnings.h"
#include "loader/song_loader.h"
#include "render/render_session.h"
#include "tests/support/example_songs.h"
#ifndef _WIN32
#include "tests/support/run_process.h"
#endif

namespace qvb {
namespace {

namespace fs = std::filesystem;

using test::exampleSongs;
using test::kExamples;

std::string textOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> sourceOf(const std::string& name) {
  const std::string text = textOf(kExamples / name);
  return {text.begin(), text.end()};
}

TEST(ExampleSongs, AreAtLeastThirteenAndEachHasALineInTheReadme) {
  const std::vector<std::string> names = exampleSongs();
  EXPECT_GE(names.size(), 13u);
  const std::string readme = textOf(kExamples / "README.md");
  for (const std::string& name : names) {
    EXPECT_NE(readme.find("| `" + name + "` |"), std::string::npos) << name << " is not in examples/README.md";
  }
}

class ExampleSong : public testing::TestWithParam<std::string> {};

TEST_P(ExampleSong, CompilesWithoutWarnings) {
  const std::vector<std::uint8_t> source = sourceOf(GetParam());
  ASSERT_FALSE(source.empty());
  ASSERT_TRUE(loadSong(source).ok());
  for (const SongWarning& warning : songWarnings(source)) ADD_FAILURE() << formatWarning(warning, GetParam());
}

TEST_P(ExampleSong, RendersAShortAudibleLoopWithItsChannelsInStep) {
  const LoadedSong song = loadSong(sourceOf(GetParam()));
  ASSERT_TRUE(song.ok());
  RenderOptions once;
  once.loops = 1;
  bool audible = false;
  RenderResult result;
  ASSERT_TRUE(renderSong(
      song.image.data(), song.image.size(), once,
      [&](const std::int16_t* samples, std::int64_t frames) {
        audible = audible || std::any_of(samples, samples + 2 * frames, [](std::int16_t s) { return s != 0; });
        return true;
      },
      result));
  EXPECT_TRUE(audible);
  EXPECT_FALSE(result.finished) << "an example loops for ever";
  ASSERT_FALSE(result.capped);
  // Ten to forty seconds to the end of the first loop: short enough to
  // read along, and within the minute the player tests listen to.
  EXPECT_GE(result.endFrame, 10 * kRenderRate);
  EXPECT_LE(result.endFrame, 40 * kRenderRate);
  ASSERT_FALSE(result.channels.empty());
  for (std::size_t k = 0; k < result.channels.size(); ++k) {
    EXPECT_NE(result.channels[k].firstJumpFrame, -1) << "channel " << k << " never went back to its loop mark";
    EXPECT_EQ(result.channels[k].markFrame, result.channels[0].markFrame) << "channel " << k;
    EXPECT_EQ(result.channels[k].firstJumpFrame, result.channels[0].firstJumpFrame) << "channel " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleSong, testing::ValuesIn(exampleSongs()),
                         [](const testing::TestParamInfo<std::string>& p) {
                           std::string name = p.param.substr(0, p.param.find('.'));
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

#if defined(QVBP_EXE) && !defined(_WIN32)
// One run for all of them: against the Windows build every start of the
// program goes through Wine and costs time.
TEST(ExampleSongs, QvbpCompilesEachToTheImageTheOtherHostsPlay) {
  const std::string dir = test::makeTempDir();
  std::vector<std::string> argv = {test::program(QVBP_EXE), "-c"};
  for (const std::string& name : exampleSongs()) {
    fs::copy_file(kExamples / name, fs::path(dir) / name);
    argv.push_back(name);
  }
  const test::ProcessResult run = test::runProcess(argv, dir);
  EXPECT_EQ(run.exitStatus, 0) << run.out;
  EXPECT_EQ(run.out.find("error"), std::string::npos) << run.out;
  for (const std::string& name : exampleSongs()) {
    const std::string compiled = fs::path(name).replace_extension(".qvb").string();
    const LoadedSong song = loadSong(sourceOf(name));
    const std::string written = textOf(fs::path(dir) / compiled);
    EXPECT_TRUE(written == std::string(song.image.begin(), song.image.end())) << compiled << " differs";
  }
  fs::remove_all(dir);
}
#endif

}  // namespace
}  // namespace qvb
