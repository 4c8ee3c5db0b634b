// Plays a song with the Windows build of qvbp under Wine. Wine shows ALSA
// PCMs as wave output devices; the test's ALSA configuration makes the
// default PCM a `file` PCM over a `null` slave, so what the program plays
// lands in a file, which must be the offline render of the same song after
// the eight silent pre-filled buffers. Runs when the tests are pointed at the
// Windows programs (tools/test-windows.sh); skipped otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "render/render_session.h"
#include "tests/support/run_process.h"
#include "tests/tools/render_test_songs.h"

#ifdef QVBP_EXE

namespace qvb {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kLeadInBytes = 8 * 8192;
constexpr std::size_t kFrameBytes = 4;

// ALSA_CONFIG_PATH for the programs started while the object lives.
class AlsaConfigPath {
 public:
  explicit AlsaConfigPath(const std::string& path) {
    if (const char* old = std::getenv("ALSA_CONFIG_PATH")) old_ = old;
    ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
  }
  ~AlsaConfigPath() {
    if (old_.empty()) {
      ::unsetenv("ALSA_CONFIG_PATH");
    } else {
      ::setenv("ALSA_CONFIG_PATH", old_.c_str(), 1);
    }
  }

 private:
  std::string old_;
};

std::string asText(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(WinePlayback, WhatReachesTheDefaultPcmIsTheRenderAfterTheSilentLeadIn) {
  const std::string qvbp = test::program(QVBP_EXE);
  if (qvbp.size() < 4 || qvbp.compare(qvbp.size() - 4, 4, ".exe") != 0) {
    GTEST_SKIP() << "needs the Windows build (make test-windows)";
  }
  const std::string dir = test::makeTempDir();
  const std::string capture = dir + "/capture.raw";
  test::writeFile(dir + "/asound.conf", "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" +
                                            capture + "\"\n  format \"raw\"\n}\n");
  // VOLUME 240, loop mark, notes 60 and 62 for 8 ticks each, END: sounds for ever.
  const std::vector<std::uint8_t> image = test::songOf({{0x81, 0xF0, 0xE0, 0x3C, 0x08, 0x3E, 0x08, 0xFF}});
  test::writeFile(dir + "/song.qvb", asText(image));

  test::ProcessResult played;
  {
    AlsaConfigPath config(dir + "/asound.conf");
    played = test::runProcess({qvbp, "song.qvb"}, dir, 5s);
  }
  EXPECT_TRUE(played.killed) << "playing never ends by itself";
  EXPECT_EQ(played.err, "");
  const std::string captured = test::readFile(capture);
  ASSERT_GE(captured.size(), kLeadInBytes + 44100 * kFrameBytes) << "less than a second arrived";
  EXPECT_EQ(captured.substr(0, kLeadInBytes), std::string(kLeadInBytes, '\0'));

  RenderOptions options;
  options.lengthFrames = 20 * 44100;
  std::string rendered;
  RenderResult result;
  ASSERT_TRUE(renderSong(image.data(), image.size(), options,
                         [&](const std::int16_t* samples, std::int64_t frames) {
                           for (std::int64_t i = 0; i < 2 * frames; ++i) {
                             const auto v = static_cast<std::uint16_t>(samples[i]);
                             rendered += static_cast<char>(v & 0xFF);
                             rendered += static_cast<char>(v >> 8);
                           }
                           return true;
                         },
                         result));
  // 16-bit stereo at 44100 Hz passes through Wine unchanged; where the
  // program was stopped Wine may have written silence instead.
  const std::string heard = captured.substr(kLeadInBytes);
  ASSERT_LE(heard.size(), rendered.size());
  std::size_t same = 0;
  while (same < heard.size() && heard[same] == rendered[same]) ++same;
  EXPECT_GE(same, 44100 * kFrameBytes) << "the first second differs at byte " << same;
  EXPECT_EQ(heard.find_first_not_of('\0', same), std::string::npos)
      << "sound that is not the render at byte " << same << " of " << heard.size();
}

}  // namespace
}  // namespace qvb

#endif
