// Starting playback: the Mixer, the timers, the wave definitions, restarts.
#include <gtest/gtest.h>

#include "song/qvb_player.h"
#include "song/sequencer_events.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"
#include "tests/support/fake_audio_platform.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

using test::buildImage;
using test::FakeAudioPlatform;
using test::ImageContents;
using test::WaveRecord;

WaveRecord waveOf(std::uint8_t index, std::int8_t first) {
  WaveRecord record{.index = index};
  for (int i = 0; i < 32; ++i) record.samples[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(first + i);
  return record;
}

ImageContents songWithWaves(std::uint8_t minor) {
  ImageContents contents;
  contents.versionMinor = minor;
  contents.title = "w";
  contents.channels = {{0x90, 0x00, 0xB8, 0x81, 0xF0, 0x30, 0x10, 0xFF}};  // TEMPO 184, VOLUME, note
  contents.waves = {waveOf(5, 0), waveOf(9, 40), waveOf(5, -60)};
  return contents;
}

TEST(PlayerPlay, LoadsTheWavesInListOrder) {
  const auto image = buildImage(songWithWaves(85));
  FakeAudioPlatform fake;  // outlives the player, whose Mixer closes it
  QvbPlayer player(image.data(), image.size());
  ASSERT_EQ(player.play(fake), 1);
  EXPECT_EQ(player.getStatus(), PLAYER_PLAYING);
  const WaveSlots& slots = player.mixer()->waveSlots();
  ASSERT_TRUE(slots[5] && slots[9]);
  EXPECT_EQ((*slots[5])[0], -60);  // the later record for slot 5 wins
  EXPECT_EQ((*slots[5])[31], -29);
  EXPECT_EQ((*slots[9])[1], 41);
  EXPECT_FALSE(slots[0]);
}

TEST(PlayerPlay, OlderLayoutsLoadNoWaves) {
  for (std::uint8_t minor : {20, 60}) {
    const auto image = buildImage(songWithWaves(minor));
    FakeAudioPlatform fake;
    QvbPlayer player(image.data(), image.size());
    ASSERT_EQ(player.play(fake), 1);
    for (const auto& slot : player.mixer()->waveSlots()) EXPECT_FALSE(slot);
  }
}

TEST(PlayerPlay, RefusedPlayerCreatesNothing) {
  const std::uint8_t text[] = "#TITLE <a>";
  FakeAudioPlatform fake;
  QvbPlayer player(text, sizeof text);
  EXPECT_EQ(player.play(fake), 0);
  EXPECT_EQ(player.mixer(), nullptr);
  EXPECT_FALSE(fake.isOpen());
}

TEST(PlayerPlay, TimersRunTheSongAndResetRestoresTheTickInterval) {
  const auto image = buildImage(songWithWaves(85));
  FakeAudioPlatform fake;  // outlives the player, whose Mixer closes it
  QvbPlayer player(image.data(), image.size());
  player.play(fake);
  // The first tick comes 184 frames after the timers are set: inside the
  // first buffer played after the eight pre-filled ones.
  EXPECT_EQ(player.context().tickInterval, 368);
  ASSERT_EQ(fake.finishNext(1), 1);
  EXPECT_EQ(player.context().tickInterval, 184);
  EXPECT_EQ(player.tracks()[0].keyOn, 1);
  // The first tick (value 368) reads TEMPO 184 and the 16-tick note; the
  // next ticks follow every 736 values, at 1104, 1840, 2576, 3312 and 4048.
  EXPECT_EQ(player.tracks()[0].wait, 16 - 5);

  player.reset();
  EXPECT_EQ(player.getStatus(), PLAYER_READY);
  EXPECT_EQ(player.mixer(), nullptr);
  EXPECT_TRUE(fake.wasClosed());
  EXPECT_EQ(player.context().tickInterval, 368);
  EXPECT_EQ(player.tracks()[0].pos, 0);
  EXPECT_EQ(player.tracks()[0].wait, 1);
  EXPECT_TRUE(fake.violations().empty());
}

// A device that plays its buffers at once (a null device) refills them as
// soon as it starts: the player starts it only when its timers are set, so
// it hears what a device that plays in real time hears.
TEST(PlayerPlay, ADeviceThatDrainsAtOnceHearsTheSongAsAPacedOneDoes) {
  const auto image = buildImage(songWithWaves(85));
  const auto played = [&image](bool drains) {
    FakeAudioPlatform fake;
    fake.drainsOnRestart = drains;
    QvbPlayer player(image.data(), image.size());
    player.play(fake);
    fake.finishNext(16 - fake.finishedCount());
    player.reset();
    return fake.writtenStream();
  };
  const std::vector<std::uint8_t> paced = played(false);
  ASSERT_EQ(paced.size(), 24u * 8192);
  EXPECT_TRUE(played(true) == paced);
}

TEST(PlayerPlay, PlayingAgainStartsOverOnANewMixer) {
  const auto image = buildImage(songWithWaves(85));
  FakeAudioPlatform first, second;
  QvbPlayer player(image.data(), image.size());
  player.play(first);
  first.finishNext(3);
  ASSERT_NE(player.tracks()[0].pos, 0);
  EXPECT_EQ(player.play(second), 1);
  EXPECT_TRUE(first.wasClosed());
  EXPECT_TRUE(second.isOpen());
  EXPECT_EQ(player.tracks()[0].pos, 0);
  EXPECT_EQ(player.tracks()[0].wait, 1);
  EXPECT_EQ(player.context().tickInterval, 368);
  EXPECT_TRUE(first.violations().empty());
}

TEST(PlayerPlay, WithoutAnOutputTheSongStandsStill) {
  const auto image = buildImage(songWithWaves(85));
  FakeAudioPlatform none(std::vector<test::FakeDevice>{});
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.play(none), 0);  // says no output opened
  EXPECT_EQ(player.getStatus(), PLAYER_PLAYING);
  EXPECT_EQ(none.finishNext(1), 0);
  EXPECT_EQ(player.tracks()[0].wait, 1);
}

TEST(PlayerStart, APullHostRunsTheSongThroughTheFill) {
  const auto image = buildImage(songWithWaves(85));
  QvbPlayer player(image.data(), image.size());
  ASSERT_EQ(player.start(), 1);
  ASSERT_NE(player.mixer(), nullptr);
  EXPECT_EQ(player.mixer()->output(), nullptr);
  EXPECT_TRUE(player.mixer()->waveSlots()[9]);
  std::vector<std::uint8_t> buffer(8192, 0);
  const AudioFormat format;
  Mixer::Fill(&format, player.mixer(), buffer.data(), static_cast<std::int32_t>(buffer.size()));
  EXPECT_EQ(player.context().tickInterval, 184);  // the first tick read TEMPO
}

TEST(PlayerLoad, ARefusedImageLeavesThePlayingSong) {
  const auto image = buildImage(songWithWaves(85));
  FakeAudioPlatform fake;
  QvbPlayer player(image.data(), image.size());
  ASSERT_EQ(player.play(fake), 1);
  auto cut = image;
  cut.resize(cut.size() - 3);  // the wave list now runs past the end
  EXPECT_EQ(player.load(cut.data(), cut.size()), PLAYER_BAD_IMAGE);
  EXPECT_EQ(player.lastFault(), PlayerFault::WaveList);
  EXPECT_EQ(player.getStatus(), PLAYER_PLAYING);
  ASSERT_NE(player.mixer(), nullptr);
  ASSERT_EQ(fake.finishNext(1), 1);
  EXPECT_EQ(player.context().tickInterval, 184);  // still running the old song
}

struct EventCount : SequencerObserver {
  int events = 0;
  void onSequencerEvent(const SequencerEvent&) override { ++events; }
};

TEST(PlayerPromises, AnObserverSetBeforeTheLoadHearsTheLoadedSong) {
  const auto image = buildImage(songWithWaves(85));
  EventCount heard;
  QvbPlayer player;
  player.setObserver(&heard);
  ASSERT_EQ(player.load(image.data(), image.size()), PLAYER_READY);
  ASSERT_EQ(player.start(), 1);
  std::vector<std::uint8_t> buffer(8192, 0);
  PullStream(*player.mixer()).pull(buffer.data(), static_cast<std::int64_t>(buffer.size()));
  EXPECT_GT(heard.events, 0);
}

TEST(PlayerPromises, WithoutASongStartAndPlayDoNothing) {
  QvbPlayer player;
  FakeAudioPlatform fake;
  EXPECT_EQ(player.start(), 0);
  EXPECT_EQ(player.play(fake), 0);
  EXPECT_EQ(player.getStatus(), PLAYER_NO_IMAGE);
  EXPECT_EQ(player.mixer(), nullptr);
  EXPECT_FALSE(fake.isOpen());
}

TEST(PlayerPromises, LoadingNoBytesKeepsTheLoadedSongAndItsStatus) {
  const auto image = buildImage(songWithWaves(85));
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.load(nullptr, 5), PLAYER_NO_IMAGE);
  EXPECT_EQ(player.getStatus(), PLAYER_READY);
  EXPECT_EQ(player.getChannelCount(), 1);
}

}  // namespace
}  // namespace qvb
