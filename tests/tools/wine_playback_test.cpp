// Plays a song with the Windows builds of qvbp and qvbplay under Wine. Wine
// shows ALSA PCMs as wave output devices; the test's ALSA configuration makes
// the default PCM a `file` PCM over a `null` slave, so what the program plays
// lands in a file, which must be the offline render of the same song after
// silence (qvbp: exactly the eight pre-filled buffers). Runs when the tests
// are pointed at the Windows programs (scripts/test-windows.sh); skipped
// otherwise.
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

// VOLUME 240, loop mark, notes 60 and 62 for 8 ticks each, END: sounds for ever.
const std::vector<std::uint8_t> kEndlessSong = test::songOf({{0x81, 0xF0, 0xE0, 0x3C, 0x08, 0x3E, 0x08, 0xFF}});

class WinePlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    qvbp_ = test::program(QVBP_EXE);
    if (qvbp_.size() < 4 || qvbp_.compare(qvbp_.size() - 4, 4, ".exe") != 0) {
      GTEST_SKIP() << "needs the Windows build (make test-windows)";
    }
    dir_ = test::makeTempDir();
    test::writeFile(dir_ + "/song.qvb", asText(kEndlessSong));
  }
  // Plays song.qvb with the program for a few seconds with this ALSA configuration.
  test::ProcessResult play(const std::string& program, const std::string& alsaConfig) {
    test::writeFile(dir_ + "/asound.conf", alsaConfig);
    AlsaConfigPath config(dir_ + "/asound.conf");
    return test::runProcess({program, "song.qvb"}, dir_, 3s);
  }
  // What the program sent to the default PCM, once it has played for a while.
  std::string captured(const std::string& program) {
    const std::string capture = dir_ + "/capture.raw";
    const test::ProcessResult played = play(program, "pcm.!default {\n  type file\n  slave.pcm { type null }\n"
                                                     "  file \"" + capture + "\"\n  format \"raw\"\n}\n");
    EXPECT_TRUE(played.killed) << "playing never ends by itself";
    EXPECT_EQ(played.err, "");
    return test::readFile(capture);
  }

  std::string qvbp_;
  std::string dir_;
};

// The sound after the lead-in is the render of the song (from its first
// sound on, when asked), but for the silent frames Wine wrote in between
// where it ran out of queued sound (it drains the always-ready null PCM
// faster than real time), which are stepped over.
void expectTheRender(const std::string& heard, bool fromFirstSound = false) {
  RenderOptions options;
  // A second more than heard: room for the render's own silent start.
  options.lengthFrames = static_cast<std::int64_t>(heard.size() / kFrameBytes) + 44100;
  std::string rendered;
  RenderResult result;
  ASSERT_TRUE(renderSong(kEndlessSong.data(), kEndlessSong.size(), options,
                         [&](const std::int16_t* samples, std::int64_t frames) {
                           for (std::int64_t i = 0; i < 2 * frames; ++i) {
                             const auto v = static_cast<std::uint16_t>(samples[i]);
                             rendered += static_cast<char>(v & 0xFF);
                             rendered += static_cast<char>(v >> 8);
                           }
                           return true;
                         },
                         result));
  if (fromFirstSound) rendered.erase(0, rendered.find_first_not_of('\0') / kFrameBytes * kFrameBytes);
  // 16-bit stereo at 44100 Hz passes through Wine unchanged.
  ASSERT_LE(heard.size(), rendered.size());
  std::size_t at = 0, next = 0, inserted = 0;
  const std::string silentFrame(kFrameBytes, '\0');
  while (at + kFrameBytes <= heard.size()) {
    if (heard.compare(at, kFrameBytes, rendered, next, kFrameBytes) == 0) {
      next += kFrameBytes;
    } else if (heard.compare(at, kFrameBytes, silentFrame) == 0) {
      inserted += kFrameBytes;
    } else {
      break;
    }
    at += kFrameBytes;
  }
  EXPECT_GT(at + kFrameBytes, heard.size()) << "sound that is not the render at byte " << at << " of "
                                               << heard.size() << ", after " << inserted << " bytes of silence";
  EXPECT_GE(next, 44100 * kFrameBytes) << "less than a second of the render arrived";
}

TEST_F(WinePlayback, WhatReachesTheDefaultPcmIsTheRenderAfterTheSilentLeadIn) {
  const std::string sound = captured(qvbp_);
  ASSERT_GE(sound.size(), kLeadInBytes + 44100 * kFrameBytes) << "less than a second arrived";
  EXPECT_EQ(sound.substr(0, kLeadInBytes), std::string(kLeadInBytes, '\0'));
  expectTheRender(sound.substr(kLeadInBytes));
}

// qvbplay keeps its output open from before the song is loaded, so how much
// silence comes first depends on the moment; then the song, as rendered.
TEST_F(WinePlayback, TheLivePlayerSendsTheRenderAfterSilence) {
  const std::string sound = captured(test::program(QVBPLAY_EXE));
  const std::size_t start = sound.find_first_not_of('\0') / kFrameBytes * kFrameBytes;
  ASSERT_LT(start, sound.size()) << "nothing but silence arrived";
  expectTheRender(sound.substr(start), true);
}

// With no PCM at all Wine offers no wave output device. Wine's ALSA library
// complains on standard error too, so the program's line is looked for there.
TEST_F(WinePlayback, WithoutADeviceTheProgramSaysSoOnceAndWaits) {
  const test::ProcessResult played = play(qvbp_, "");
  EXPECT_TRUE(played.killed);
  const std::string line = "qvbp: no audio output device could be opened\n";
  const std::size_t at = played.err.find(line);
  ASSERT_NE(at, std::string::npos) << played.err;
  EXPECT_EQ(played.err.find(line, at + 1), std::string::npos) << "said once";
  EXPECT_NE(played.out.find("used channel: 1\n"), std::string::npos) << played.out;
}

}  // namespace
}  // namespace qvb

#endif
