// The output that stays open across songs, on the scriptable fake device.
#include "sound/audio_output.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "tests/support/fake_audio_platform.h"

namespace qvb {
namespace {

using test::FakeAudioPlatform;

// A song stand-in: a Mixer without output whose timer counts how often it ran,
// pulled through a stream.
struct CountingSong {
  int ticks = 0;
  Mixer mixer{1};
  PullStream stream{mixer};
  CountingSong() {
    mixer.SetTimer1(64, [](void* self) { ++static_cast<CountingSong*>(self)->ticks; }, this);
  }
};

int openCount(const FakeAudioPlatform& fake) {
  return static_cast<int>(std::count_if(fake.calls().begin(), fake.calls().end(),
                                        [](const std::string& c) { return c.rfind("open", 0) == 0; }));
}

TEST(AudioOutput, ReplacesTheSongWithoutReopeningTheDevice) {
  FakeAudioPlatform fake;
  AudioOutput out(fake);
  ASSERT_TRUE(out.running());
  EXPECT_EQ(fake.queued(), 8);  // pre-filled once, at open
  CountingSong first, second;
  out.attach(&first.stream);
  fake.finishNext(2);
  EXPECT_GT(first.ticks, 0);
  const int firstTicks = first.ticks;
  out.attach(&second.stream);
  fake.finishNext(2);
  EXPECT_EQ(first.ticks, firstTicks);
  EXPECT_GT(second.ticks, 0);
  EXPECT_EQ(openCount(fake), 1);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(AudioOutput, PauseHoldsTheSongAndPlaysSilence) {
  FakeAudioPlatform fake;
  AudioOutput out(fake);
  CountingSong song;
  out.attach(&song.stream);
  out.setPaused(true);
  EXPECT_EQ(fake.finishNext(3), 3);
  EXPECT_EQ(song.ticks, 0);
  out.setPaused(false);
  fake.finishNext(1);
  EXPECT_GT(song.ticks, 0);
}

TEST(AudioOutput, PlayedFramesCountFinishedBuffersOrWhatTheDeviceReports) {
  FakeAudioPlatform fake;
  AudioOutput out(fake);
  EXPECT_EQ(out.playedFrames(), 0);
  fake.finishNext(3);
  EXPECT_EQ(out.playedFrames(), 3 * 2048);  // 8192-byte buffers of 16-bit stereo
  fake.reportedPlayedFrames = 5000;
  EXPECT_EQ(out.playedFrames(), 5000);
}

TEST(AudioOutput, StopDropsWhatIsQueuedAndDetachesTheSong) {
  FakeAudioPlatform fake;
  AudioOutput out(fake);
  CountingSong song;
  out.attach(&song.stream);
  fake.finishNext(8);  // the queue now holds the song
  const int ticks = song.ticks;
  EXPECT_TRUE(out.stop());
  EXPECT_EQ(out.source(), nullptr);
  EXPECT_EQ(fake.queued(), 8);  // refilled with silence and queued again
  EXPECT_EQ(out.playedFrames(), 8 * 2048);  // dropped buffers were never heard
  fake.finishNext(2);
  EXPECT_EQ(song.ticks, ticks);
  EXPECT_EQ(openCount(fake), 1);
}

}  // namespace
}  // namespace qvb
