// The player's session on the scriptable fake device: where the song is
// heard, pause, seeks, mutes and reloads, each checked against the song
// rendered offline from its start.
#include "play/play_session.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loader/song_loader.h"
#include "play/file_watch.h"
#include "play/song_file.h"
#include "render/render_session.h"
#include "tests/support/fake_audio_platform.h"
#include "tests/support/rendered_sound.h"
#include "tests/support/temp_files.h"

namespace qvb {
namespace {

using test::FakeAudioPlatform;
using test::renderedSound;

constexpr std::int64_t kBufferFrames = 2048;  // an 8192-byte buffer of 16-bit stereo

const std::string kTwoVoices = "#TITLE <two>\n#CHANNEL 2\n#A %0 v12 o4 l4 $ c e g e\n#B %1 v9 o3 l2 $ g a\n";

std::vector<std::uint8_t> compile(const std::string& source) {
  LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  EXPECT_TRUE(song.ok());
  return song.image;
}

// What the fake device played or will play, as samples.
std::vector<std::int16_t> heard(const FakeAudioPlatform& fake) {
  const std::vector<std::uint8_t> bytes = fake.writtenStream();
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

// Frames [from, from + count) of a stream of samples.
std::vector<std::int16_t> frames(const std::vector<std::int16_t>& s, std::int64_t from, std::int64_t count) {
  if (static_cast<std::int64_t>(s.size()) < 2 * (from + count)) return {};
  return {s.begin() + 2 * from, s.begin() + 2 * (from + count)};
}

TEST(PlaySession, PositionIsWhatTheDeviceHasPlayedSinceTheSongStarted) {
  FakeAudioPlatform fake;
  fake.reportedPlayedFrames = 1000;
  PlaySession session(fake, 0);
  ASSERT_TRUE(session.open(compile(kTwoVoices), 0));
  EXPECT_EQ(session.position(), 0);
  fake.reportedPlayedFrames = 1000 + 4321;
  EXPECT_EQ(session.position(), 4321);
  session.seekTo(10000);
  fake.reportedPlayedFrames += 500;
  EXPECT_EQ(session.position(), 10500);
}

TEST(PlaySession, SeekSoundsLikeTheSongRenderedFromItsStart) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  const std::vector<std::uint8_t> image = compile(kTwoVoices);
  ASSERT_TRUE(session.open(image, 0));
  fake.finishNext(3);
  const std::int64_t target = 50001;  // not on a buffer boundary
  session.seekTo(target);
  EXPECT_EQ(session.position(), target);
  fake.finishNext(4);
  const std::vector<std::int16_t> reference = renderedSound(image, target + 12 * kBufferFrames);
  // Three buffers of the start were heard; what followed them was dropped.
  EXPECT_EQ(frames(heard(fake), 0, 3 * kBufferFrames), frames(reference, 0, 3 * kBufferFrames));
  EXPECT_EQ(frames(heard(fake), 3 * kBufferFrames, 12 * kBufferFrames),
            frames(reference, target, 12 * kBufferFrames));
}

TEST(PlaySession, PauseHoldsThePlaceAndResumesFromIt) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  const std::vector<std::uint8_t> image = compile(kTwoVoices);
  ASSERT_TRUE(session.open(image, 0));
  fake.finishNext(2);
  session.togglePause();
  EXPECT_TRUE(session.paused());
  fake.finishNext(5);
  EXPECT_EQ(session.position(), 2 * kBufferFrames);
  const std::vector<std::int16_t> silence(2 * 5 * kBufferFrames, 0);
  EXPECT_EQ(frames(heard(fake), 2 * kBufferFrames, 5 * kBufferFrames), silence);
  session.togglePause();
  fake.finishNext(1);
  const std::vector<std::int16_t> reference = renderedSound(image, 12 * kBufferFrames);
  EXPECT_EQ(frames(heard(fake), 7 * kBufferFrames, 9 * kBufferFrames),
            frames(reference, 2 * kBufferFrames, 9 * kBufferFrames));
}

TEST(PlaySession, SoloSilencesTheOtherChannelsAndSoloAgainBringsThemBack) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  ASSERT_TRUE(session.open(compile(kTwoVoices), 0));
  session.solo(0);
  EXPECT_FALSE(session.muted(0));
  EXPECT_TRUE(session.muted(1));
  session.seekTo(0);  // hear it from the start, so the whole stream is muted
  // The same song with channel B never loud: what a mute must sound like.
  const std::string quietB = "#TITLE <two>\n#CHANNEL 2\n#A %0 v12 o4 l4 $ c e g e\n#B %1 v0 o3 l2 $ g a\n";
  const std::int64_t n = 8 * kBufferFrames;
  EXPECT_EQ(frames(heard(fake), 0, n), frames(renderedSound(compile(quietB), n), 0, n));

  session.solo(0);
  EXPECT_FALSE(session.muted(1));
  session.seekTo(0);
  EXPECT_EQ(frames(heard(fake), 0, n), frames(renderedSound(compile(kTwoVoices), n), 0, n));
}

TEST(PlaySession, AMuteIsHeardAtOnceNotAfterTheQueue) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  ASSERT_TRUE(session.open(compile(kTwoVoices), 0));
  fake.finishNext(3);
  session.setMuted(0, true);
  session.setMuted(1, true);
  fake.finishNext(2);
  // Three buffers were heard before the mutes; everything after them is silent.
  const std::vector<std::int16_t> silence(2 * 8 * kBufferFrames, 0);
  EXPECT_EQ(frames(heard(fake), 3 * kBufferFrames, 8 * kBufferFrames), silence);
}

TEST(PlaySession, MuteBeforeTheSongTakesEffectFromItsFirstFrame) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  session.setMuted(0, true);
  session.setMuted(1, true);
  ASSERT_TRUE(session.open(compile(kTwoVoices), 0));
  const std::vector<std::int16_t> silence(2 * 8 * kBufferFrames, 0);
  EXPECT_EQ(frames(heard(fake), 0, 8 * kBufferFrames), silence);
}

TEST(PlaySession, AReloadWithMoreChannelsWhilePausedShowsEveryChannel) {
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  ASSERT_TRUE(session.open(compile("#TITLE <one>\n#CHANNEL 1\n#A v9 c\n"), 0));
  session.togglePause();
  std::string many = "#TITLE <many>\n#CHANNEL 26\n";
  for (char c = 'A'; c <= 'Z'; ++c) many += std::string("#") + c + " v9 c\n";
  ASSERT_TRUE(session.reload(compile(many)));
  const std::vector<ChannelView> views = session.channels();
  ASSERT_EQ(views.size(), 26u);
  EXPECT_EQ(views[25].letter, 'Z');
}

// The tick heard, once the background run has found the song's beats.
std::int64_t tickHeard(const PlaySession& session) {
  for (int i = 0; i < 1000 && !session.figures().known; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return session.tickAt(session.position());
}

// A tempo edit changes the seconds a bar takes: a reload keeps the bar, the
// beat and the tick heard (and how far into the tick), not the time.
TEST(PlaySession, AReloadAfterATempoEditGoesOnFromTheSameBarAndBeat) {
  const auto song = [](int tempo) {
    return compile("#TITLE <t>\n#CHANNEL 1\n#A t" + std::to_string(tempo) + " v9 o4 l4 [16 c d e f]\n");
  };
  FakeAudioPlatform fake;
  fake.reportedPlayedFrames = 0;
  PlaySession session(fake, 0);
  ASSERT_TRUE(session.open(song(120), 0));
  fake.reportedPlayedFrames = 233730;  // 5.3 s: bar 3, beat 3 at t120
  const std::int64_t tick = tickHeard(session);
  EXPECT_EQ(barBeatText(tick), "3:3");
  ASSERT_TRUE(session.reload(song(60)));
  EXPECT_EQ(tickHeard(session), tick);
  ASSERT_TRUE(session.reload(song(120)));  // and back, as far into the tick as before
  EXPECT_EQ(tickHeard(session), tick);
  EXPECT_NEAR(static_cast<double>(session.position()), 233730, 2);
}

TEST(PlaySession, TheDisplayShowsTheNoteHeardNotTheOneRenderedAhead) {
  FakeAudioPlatform fake;
  fake.reportedPlayedFrames = 0;
  PlaySession session(fake, 0);
  // A quarter note at the start speed lasts 48 ticks of 736 frames; the
  // eight buffers queued at once reach into the second note already.
  ASSERT_TRUE(session.open(compile("#TITLE <n>\n#CHANNEL 1\n#A v9 o4 l16 c r\n"), 0));
  fake.reportedPlayedFrames = 200;  // past the first tick (184 frames)
  ASSERT_EQ(session.channels().size(), 1u);
  const ChannelView first = session.channels()[0];
  EXPECT_NE(first.note, -1);
  EXPECT_EQ(first.level, 9 * 16);
  fake.reportedPlayedFrames = 184 + 12 * 736 + 10;  // into the rest
  EXPECT_EQ(session.channels()[0].note, -1);
}

TEST(PlaySession, WatchedFileThatStopsCompilingKeepsTheSongAndAFixResumesInPlace) {
  namespace fs = std::filesystem;
  const std::string dir = test::makeTempDir();
  const std::string path = dir + "/song.qvm";
  test::writeFile(path, kTwoVoices);
  FileWatch watch(path, true);
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  SongFile first = readSongFile(path);
  ASSERT_TRUE(first.image);
  const std::vector<std::uint8_t> oldImage = *first.image;
  ASSERT_TRUE(session.open(std::move(*first.image), 0));
  fake.finishNext(2);

  std::int64_t now = 1000;
  test::writeFile(path, "#TITLE <two>\n#CHANNEL 2\n#A v12 o9 c\n#B v9 c\n");  // o9: no such octave
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
  EXPECT_FALSE(watch.changed(now));  // not settled yet
  now += kSettleMs;
  ASSERT_TRUE(watch.changed(now));
  std::vector<std::string> messages;
  EXPECT_FALSE(reloadSongFile(session, path, messages));
  ASSERT_GE(messages.size(), 3u);
  EXPECT_NE(messages[0].find(path + ":3:"), std::string::npos) << messages[0];
  EXPECT_NE(messages[0].find(": error "), std::string::npos) << messages[0];
  EXPECT_EQ(messages[1], "#A v12 o9 c");
  EXPECT_EQ(messages[2].back(), '^');
  fake.finishNext(2);
  const std::vector<std::int16_t> oldSound = renderedSound(oldImage, 12 * kBufferFrames);
  EXPECT_EQ(frames(heard(fake), 0, 12 * kBufferFrames), oldSound) << "the old song plays on";

  const std::string fixed = "#TITLE <two>\n#CHANNEL 2\n#A %0 v12 o5 l4 $ c e g e\n#B %1 v9 o3 l2 $ g a\n";
  test::writeFile(path, fixed);
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
  now += 10;
  EXPECT_FALSE(watch.changed(now));
  now += kSettleMs;
  ASSERT_TRUE(watch.changed(now));
  const std::int64_t at = session.position();
  EXPECT_EQ(at, 4 * kBufferFrames);
  ASSERT_TRUE(reloadSongFile(session, path, messages));
  EXPECT_EQ(session.position(), at);
  const std::vector<std::int16_t> newSound = renderedSound(compile(fixed), at + 8 * kBufferFrames);
  EXPECT_EQ(frames(heard(fake), at, 8 * kBufferFrames), frames(newSound, at, 8 * kBufferFrames));
  fs::remove_all(dir);
}

#ifndef _WIN32
// A pipe put in the song's place would hold the open until a writer came,
// and with it the display and the keys.
TEST(PlaySession, AReloadRefusesAPipeInTheSongsPlaceAtOnceAndTakesTheFilePutBack) {
  const std::string dir = test::makeTempDir();
  const std::string path = dir + "/song.qvm";
  test::writeFile(path, kTwoVoices);
  FileWatch watch(path, true);
  FakeAudioPlatform fake;
  PlaySession session(fake, 0);
  SongFile first = readSongFile(path);
  ASSERT_TRUE(first.image);
  ASSERT_TRUE(session.open(std::move(*first.image), 0));

  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(watch.changed(0));
  ASSERT_TRUE(watch.changed(kSettleMs));
  std::vector<std::string> messages;
  auto reload = std::async(std::launch::async, [&] { return reloadSongFile(session, path, messages); });
  if (reload.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
    ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // lets the open through: a failure, not a hang
    ADD_FAILURE() << "the reload waits for the pipe's writer";
  }
  EXPECT_FALSE(reload.get());
  EXPECT_EQ(messages, std::vector<std::string>{"qvbplay: cannot read " + path + ": not a regular file"});
  EXPECT_EQ(session.title(), "two");

  std::filesystem::remove(path);
  test::writeFile(path, "#TITLE <back>\n#CHANNEL 1\n#A v9 c\n");
  EXPECT_FALSE(watch.changed(2 * kSettleMs));
  ASSERT_TRUE(watch.changed(3 * kSettleMs));
  EXPECT_TRUE(reloadSongFile(session, path, messages));
  EXPECT_EQ(session.title(), "back");
  std::filesystem::remove_all(dir);
}
#endif

TEST(FileWatch, AFileThatVanishesIsWaitedForAndReportedWhenItIsBack) {
  namespace fs = std::filesystem;
  const std::string dir = test::makeTempDir();
  const std::string path = dir + "/song.qvm";
  test::writeFile(path, "one");
  FileWatch watch(path, true);
  EXPECT_FALSE(watch.changed(0));
  fs::remove(path);
  EXPECT_FALSE(watch.changed(10));
  EXPECT_FALSE(watch.changed(10 + 10 * kSettleMs)) << "nothing to read";
  test::writeFile(path, "one, grown");
  EXPECT_FALSE(watch.changed(20 + 10 * kSettleMs));
  EXPECT_TRUE(watch.changed(20 + 11 * kSettleMs));
  EXPECT_FALSE(watch.changed(20 + 12 * kSettleMs)) << "reported once";
  fs::remove_all(dir);
}

// Waits up to a second for the watch's reports, as qvbplay's wait for keys
// does: Wine hands them over a moment after the change.
void awaitNews(const FileWatch& watch) {
#ifdef _WIN32
  WaitForSingleObject(watch.wakeHandle(), 1000);
#else
  pollfd news{watch.wakeHandle(), POLLIN, 0};
  ::poll(&news, 1, 1000);
#endif
}

// A song file in a fresh folder, watched with the system's reports.
class FileWatchReports : public ::testing::Test {
 protected:
  void SetUp() override {
    test::writeFile(path_, "one");
    watch_ = std::make_unique<FileWatch>(path_);
    if (!watch_->reported()) GTEST_SKIP() << "the system reports no changes here";
    EXPECT_FALSE(watch_->changed(0));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  const std::string dir_ = test::makeTempDir();
  const std::string path_ = dir_ + "/song.qvm";
  std::unique_ptr<FileWatch> watch_;
};

TEST_F(FileWatchReports, ASaveWrittenWholeOrRenamedIntoPlaceIsReportedAtOnce) {
  test::writeFile(path_, "two");  // written and closed
  awaitNews(*watch_);
  EXPECT_TRUE(watch_->changed(1));
  test::writeFile(dir_ + "/song.qvm.tmp", "three");
  awaitNews(*watch_);
  EXPECT_FALSE(watch_->changed(2)) << "another file";
  std::filesystem::rename(dir_ + "/song.qvm.tmp", path_);  // as editors save
  awaitNews(*watch_);
  EXPECT_TRUE(watch_->changed(3));
}

TEST_F(FileWatchReports, ASaveStillBeingWrittenIsReadOnlyOnceQuiet) {
  std::ofstream writer(path_, std::ios::binary | std::ios::app);
  writer << ", two" << std::flush;
  awaitNews(*watch_);
  EXPECT_FALSE(watch_->changed(1)) << "still open for writing";
  EXPECT_TRUE(watch_->changed(1 + kSettleMs));
}

}  // namespace
}  // namespace qvb
