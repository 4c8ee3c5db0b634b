// Every example song in examples/ compiles, loads in the player with the title,
// channel count, blocks and waves it was written with, and plays: it is
// audible and every channel keeps looping instead of finishing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "song/qvb_player.h"
#include "tests/compiler/compile_fixture.h"
#include "tests/support/fake_audio_platform.h"

namespace qvb::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> exampleSongs() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(QVBP_SOURCE_DIR) / "examples")) {
    if (entry.path().extension() == ".qvm") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFile(const std::string& name) {
  std::ifstream in(fs::path(QVBP_SOURCE_DIR) / "examples" / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the source says about itself, read with plain string searches; the
// examples keep their directives simple so that this stays true.
struct Declared {
  std::string title;
  int channels = 0;
  std::size_t waves = 0;
  bool famicom = false;
};

Declared declared(const std::string& text) {
  Declared d;
  const std::size_t title = text.find("#TITLE <");
  if (title != std::string::npos) {
    const std::size_t start = title + 8;
    d.title = text.substr(start, text.find('>', start) - start);
  }
  const std::size_t channel = text.find("#CHANNEL ");
  if (channel != std::string::npos) d.channels = std::atoi(text.c_str() + channel + 9);
  for (std::size_t at = text.find("\n#WAV "); at != std::string::npos; at = text.find("\n#WAV ", at + 1)) ++d.waves;
  d.famicom = text.find("#PRAGMA FAMICOM") != std::string::npos;
  return d;
}

TEST(ExampleSongs, TheThreeSongsAreThere) {
  const std::vector<std::string> names = exampleSongs();
  for (const char* wanted : {"demo.qvm", "famicom.qvm", "waves.qvm"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), wanted), names.end()) << wanted;
  }
}

class ExampleSong : public testing::TestWithParam<std::string> {};

TEST_P(ExampleSong, CompilesLoadsAndPlays) {
  const std::string text = readFile(GetParam());
  ASSERT_FALSE(text.empty());
  const Declared want = declared(text);
  ASSERT_FALSE(want.title.empty());
  ASSERT_GT(want.channels, 0);

  const CompileResult result = compileSource(text);
  ASSERT_EQ(result.status, 0) << GetParam() << ":" << result.error.line << ":" << result.error.row << ": error "
                              << result.error.type;
  const ImageParts parts = splitImage(result.image);
  ASSERT_EQ(parts.problem, "");
  EXPECT_EQ(parts.title, want.title);
  ASSERT_EQ(parts.channels.size(), static_cast<std::size_t>(want.channels));
  EXPECT_EQ(parts.waves.size(), want.waves);
  for (std::size_t k = 0; k < parts.channels.size(); ++k) {
    ASSERT_FALSE(parts.channels[k].empty());
    EXPECT_EQ(parts.channels[k].back(), 0xFF) << "channel " << k << " does not end with END";
    if (want.famicom) {
      const std::uint8_t type = k == 2 ? 0x03 : 0x01;
      EXPECT_EQ(hex({parts.channels[k][0], parts.channels[k][1]}), hex({0xFE, type})) << "channel " << k;
    }
  }

  QvbPlayer player(result.image.data(), result.image.size());
  ASSERT_EQ(player.getStatus(), PLAYER_READY);
  char title[256] = {};
  player.getTitle(title, 255);
  EXPECT_EQ(std::string(title), want.title);
  ASSERT_EQ(player.getChannelCount(), want.channels);
  for (int k = 0; k < want.channels; ++k) {
    const Track& track = player.tracks()[k];
    const Bytes& block = parts.channels[static_cast<std::size_t>(k)];
    ASSERT_NE(track.data, nullptr);
    EXPECT_EQ(hex(Bytes(track.data, track.data + block.size())), hex(block)) << "channel " << k;
  }

  // About 60 seconds of sound: longer than the first pass of every example.
  FakeAudioPlatform platform;
  ASSERT_EQ(player.play(platform), 1);
  ASSERT_EQ(platform.finishNext(1300), 1300);
  const std::vector<std::uint8_t> stream = platform.writtenStream();
  EXPECT_TRUE(std::any_of(stream.begin(), stream.end(), [](std::uint8_t b) { return b != 0; })) << "silent";
  for (int k = 0; k < want.channels; ++k) {
    const Track& track = player.tracks()[k];
    EXPECT_NE(track.wait, 0) << "channel " << k << " finished";
    EXPECT_GE(track.loopJumps, 1) << "channel " << k << " never went back to its loop mark";
    // All channels of a song are equally long, so they loop together.
    EXPECT_EQ(track.loopJumps, player.tracks()[0].loopJumps) << "channel " << k;
  }
  EXPECT_TRUE(platform.violations().empty());
  player.release();
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleSong, testing::ValuesIn(exampleSongs()),
                         [](const testing::TestParamInfo<std::string>& p) {
                           std::string name = p.param.substr(0, p.param.find('.'));
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

}  // namespace
}  // namespace qvb::test
