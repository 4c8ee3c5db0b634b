// qvbplay plays every example song without a device and without a word of
// warning, and stops at the end of its first loop: started half a second
// before it, so the whole set costs a few seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "loader/song_loader.h"
#include "render/render_session.h"
#include "tests/support/example_songs.h"
#include "tests/support/run_process.h"

namespace qvb {
namespace {

namespace fs = std::filesystem;

using test::exampleSongs;
using test::kExamples;

// The frame at which the song has looped once, as the render session finds it.
std::int64_t firstLoopEnd(const std::string& path) {
  const std::string text = test::readFile(path);
  const LoadedSong song = loadSong(std::vector<std::uint8_t>(text.begin(), text.end()));
  if (!song.ok()) return -1;
  RenderOptions once;
  once.loops = 1;
  RenderResult result;
  const auto discard = [](const std::int16_t*, std::int64_t) { return true; };
  if (!renderSong(song.image.data(), song.image.size(), once, discard, result)) return -1;
  return result.endFrame;
}

class QvbplayExample : public testing::TestWithParam<std::string> {};

TEST_P(QvbplayExample, PlaysWithoutWarningsToTheEndOfItsFirstLoop) {
  const std::string path = (kExamples / GetParam()).string();
  const std::int64_t end = firstLoopEnd(path);
  ASSERT_GT(end, kRenderRate);
  char start[32];
  std::snprintf(start, sizeof start, "%.3f", static_cast<double>(end - kRenderRate / 2) / kRenderRate);
  const test::ProcessResult r =
      test::runProcess({test::program(QVBPLAY_EXE), "--null", "--start", start, "-l", "1", path}, kExamples.string());
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("playing " + path + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("end at "), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Examples, QvbplayExample, testing::ValuesIn(exampleSongs()),
                         [](const testing::TestParamInfo<std::string>& p) {
                           std::string name = p.param.substr(0, p.param.find('.'));
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

}  // namespace
}  // namespace qvb
