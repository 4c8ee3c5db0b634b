// Plays through real ALSA without a sound card: the test's own configuration
// defines a `file` PCM that writes everything it gets to a file, over a `null`
// slave, and the captured bytes are compared with an offline rendering.
#include "sound/alsa_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sound/mixer.h"
#include "sound/wave_out.h"
#include "tests/support/fake_audio_platform.h"

namespace qvb {
namespace {

namespace fs = std::filesystem;

// Sets ALSA_CONFIG_PATH to a configuration of our own for the life of the object.
class AlsaConfig {
 public:
  explicit AlsaConfig(const std::string& text) {
    dir_ = fs::temp_directory_path() / ("qvb_alsa_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    const fs::path conf = dir_ / "asound.conf";
    std::ofstream(conf) << text;
    const char* old = std::getenv("ALSA_CONFIG_PATH");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  }
  ~AlsaConfig() {
    if (hadOld_) {
      ::setenv("ALSA_CONFIG_PATH", old_.c_str(), 1);
    } else {
      ::unsetenv("ALSA_CONFIG_PATH");
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir() const { return dir_; }

 private:
  fs::path dir_;
  bool hadOld_ = false;
  std::string old_;
};

struct Song {
  Voice* voice = nullptr;
  std::atomic<int> calls{0};
  // Sets the voice up on its first run, on the filling thread, so the sound
  // does not depend on how many silent buffers went before.
  static void Tick(void* context) {
    auto* self = static_cast<Song*>(context);
    if (self->calls.fetch_add(1) == 0) {
      self->voice->SetType(Pulse);
      self->voice->frequency = 330;
      self->voice->volumeLeft = 120;
      self->voice->volumeRight = 60;
    }
  }
};

std::vector<std::uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void captureMatchesRendering(DeviceRing ring) {
  AlsaConfig config("");
  const fs::path capture = config.dir() / "capture.raw";
  std::ofstream(config.dir() / "asound.conf")
      << "pcm.qvbcapture {\n  type file\n  slave.pcm { type null }\n  file \"" << capture.string()
      << "\"\n  format \"raw\"\n}\n";

  AlsaPlatform platform({"qvbcapture"}, ring);
  std::uint32_t formats = 0;
  ASSERT_EQ(platform.deviceFormats(0, formats), 0);
  EXPECT_NE(formats & kFormat4S16, 0u);

  Song song;
  {
    Mixer mixer(1, platform);
    ASSERT_NE(mixer.output(), nullptr);
    ASSERT_TRUE(mixer.output()->running());
    EXPECT_EQ(mixer.output()->format(), (AudioFormat{2, 2, 44100}));
    mixer.CopyVoices(&song.voice, 1);
    mixer.SetTimer1(368, &Song::Tick, &song);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (song.calls.load() < 60 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(song.calls.load(), 60) << "buffers did not circulate";
    // At 44100 Hz: 93 ms, or at most 46 ms.
    if (ring == DeviceRing::Long) {
      EXPECT_GE(platform.deviceBufferFrames(), 4096);
    } else {
      EXPECT_LE(platform.deviceBufferFrames(), 2048);
    }
    EXPECT_EQ(platform.underruns(), 0);
  }  // teardown joins the writer

  const std::vector<std::uint8_t> captured = readFile(capture);
  ASSERT_GE(captured.size(), 12u * kWaveBufferBytes);
  std::size_t firstSound = 0;
  while (firstSound < captured.size() && captured[firstSound] == 0) ++firstSound;
  ASSERT_LT(firstSound, captured.size());
  const std::size_t silentBuffers = firstSound / kWaveBufferBytes;
  EXPECT_GE(silentBuffers, 8u) << "the pre-filled buffers are silent";

  // The same song rendered by hand.
  test::FakeAudioPlatform noDevices{std::vector<test::FakeDevice>{}};
  Mixer twin(1, noDevices);
  Song twinSong;
  twin.CopyVoices(&twinSong.voice, 1);
  twin.SetTimer1(368, &Song::Tick, &twinSong);
  const AudioFormat format;
  std::vector<std::uint8_t> expected(silentBuffers * kWaveBufferBytes, 0);
  while (expected.size() < captured.size()) {
    std::vector<std::uint8_t> buffer(kWaveBufferBytes, 0);
    Mixer::Fill(&format, &twin, buffer.data(), kWaveBufferBytes);
    expected.insert(expected.end(), buffer.begin(), buffer.end());
  }
  expected.resize(captured.size());
  EXPECT_TRUE(captured == expected) << "captured PCM differs from the rendering";
}

// The short ring changes only how much the device holds: the sound is the same.
TEST(AlsaPlatform, FilePcmCapturesExactlyWhatTheMixerRenderedWithEitherRing) {
  for (const DeviceRing ring : {DeviceRing::Long, DeviceRing::Short}) {
    SCOPED_TRACE(ring == DeviceRing::Long ? "long ring" : "short ring");
    captureMatchesRendering(ring);
  }
}

TEST(AlsaPlatform, UnknownDeviceFailsQuietly) {
  AlsaPlatform platform({"qvb_no_such_pcm"});
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  {
    Mixer mixer(2, platform);
    ASSERT_NE(mixer.output(), nullptr);
    EXPECT_FALSE(mixer.output()->running());
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(AlsaPlatform, SystemListStartsWithDefaultAndLeavesOutNull) {
  AlsaPlatform platform;
  ASSERT_FALSE(platform.names().empty());
  EXPECT_EQ(platform.names().front(), "default");
  for (const std::string& name : platform.names()) EXPECT_NE(name, "null");
}

TEST(AlsaPlatform, DropHandsTheQueueBackAndKeepsPlaying) {
  AlsaConfig config("pcm.qvbsink {\n  type null\n}\n");
  AlsaPlatform platform({"qvbsink"});
  Song song;
  Mixer mixer(1, platform);
  ASSERT_TRUE(mixer.output() != nullptr && mixer.output()->running());
  mixer.CopyVoices(&song.voice, 1);
  mixer.SetTimer1(368, &Song::Tick, &song);
  auto waitForCalls = [&](int calls) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (song.calls.load() < calls && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return song.calls.load() >= calls;
  };
  ASSERT_TRUE(waitForCalls(30));
  std::int64_t before = -1;
  ASSERT_TRUE(platform.playedFrames(before));
  EXPECT_GT(before, 0);
  ASSERT_TRUE(platform.drop());
  std::int64_t after = -1;
  ASSERT_TRUE(platform.playedFrames(after));
  EXPECT_GE(after, before) << "a drop never takes back frames already played";
  const int calls = song.calls.load();
  EXPECT_TRUE(waitForCalls(calls + 30)) << "the ring stopped after the drop";
}

}  // namespace
}  // namespace qvb
