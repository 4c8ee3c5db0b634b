// Loading QVB images into the player: layouts, versions, titles, refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "song/qvb_format.h"
#include "song/qvb_player.h"
#include "tests/support/case_name.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

using test::buildImage;
using test::ImageContents;
using test::putBe16;
using test::putBe32;

std::string titleOf(const QvbPlayer& player, int size = 255) {
  std::vector<char> dest(static_cast<std::size_t>(size) + 1, 'x');
  player.getTitle(dest.data(), size);
  return dest.data();
}

ImageContents twoChannelSong() {
  ImageContents contents;
  contents.title = "My song";
  contents.channels = {{0x81, 0xF0, 0x30, 0x30, 0xFF}, {0x80, 0x10, 0xFF}};
  return contents;
}

TEST(PlayerLoad, WithoutBytesHoldsNoImage) {
  QvbPlayer player(nullptr, 10);
  EXPECT_EQ(player.getStatus(), PLAYER_NO_IMAGE);
  EXPECT_EQ(player.getVersion(), 0.0f);
  char title[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(player.getTitle(title, 4), 0);
  EXPECT_EQ(title[0], 0);
  EXPECT_EQ(player.getChannelCount(), 0);
}

TEST(PlayerLoad, ReadyImageReportsVersionTitleAndChannels) {
  const auto image = buildImage(twoChannelSong());
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.getStatus(), PLAYER_READY);
  EXPECT_FLOAT_EQ(player.getVersion(), 0.85f);
  EXPECT_EQ(titleOf(player), "My song");
  EXPECT_EQ(player.getChannelCount(), 2);
}

TEST(PlayerLoad, KeepsItsOwnCopyOfTheBytes) {
  auto image = buildImage(twoChannelSong());
  QvbPlayer player(image.data(), image.size());
  std::fill(image.begin(), image.end(), 0);
  EXPECT_EQ(titleOf(player), "My song");
  EXPECT_EQ(player.tracks()[0].data[0], 0x81);
  EXPECT_EQ(player.tracks()[1].data[0], 0x80);
}

TEST(PlayerLoad, SourceTextIsNoImage) {
  const std::string source = "#TITLE <a>\n#CHANNEL 1\n#A v15 c\n";
  QvbPlayer player(reinterpret_cast<const std::uint8_t*>(source.data()), source.size());
  EXPECT_EQ(player.getStatus(), PLAYER_BAD_MAGIC);
  EXPECT_EQ(player.getVersion(), 0.0f);
  char title[8] = "untouch";
  EXPECT_EQ(player.getTitle(title, 8), 0);
  EXPECT_STREQ(title, "untouch");
}

struct VersionCase {
  std::uint8_t major, minor;
  int status;
  bool blocksBackToBack;  // layout 1 ignores dataOffset
  bool hasWaveList;
};

class PlayerVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(PlayerVersion, PicksTheLayoutByVersionNumber) {
  const VersionCase c = GetParam();
  ImageContents contents = twoChannelSong();
  contents.versionMajor = c.major;
  contents.versionMinor = c.minor;
  auto image = buildImage(contents);
  // Scramble channel 1's dataOffset to point at channel 0's block: only the
  // back-to-back layout still finds the right bytes.
  const std::size_t table = channelCountOffset(contents.title.size()) + 2;
  const std::uint32_t block0 = readBe32(image.data() + table);
  putBe32(image, table + 8, block0);
  QvbPlayer player(image.data(), image.size());
  ASSERT_EQ(player.getStatus(), c.status);
  if (c.status < 0) return;
  EXPECT_FLOAT_EQ(player.getVersion(), (c.major * 100 + c.minor) / 100.0f);
  EXPECT_EQ(player.tracks()[1].data[0], c.blocksBackToBack ? 0x80 : 0x81);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PlayerVersion,
                         ::testing::Values(VersionCase{0, 0, PLAYER_READY, true, false},
                                           VersionCase{0, 20, PLAYER_READY, true, false},
                                           VersionCase{0, 21, PLAYER_READY, false, false},
                                           VersionCase{0, 60, PLAYER_READY, false, false},
                                           VersionCase{0, 61, PLAYER_READY, false, true},
                                           VersionCase{0, 85, PLAYER_READY, false, true},
                                           VersionCase{0, 86, PLAYER_BAD_VERSION, false, false},
                                           VersionCase{0, 120, PLAYER_BAD_VERSION, false, false},
                                           VersionCase{1, 0, PLAYER_BAD_VERSION, false, false}),
    [](const auto& p) { return test::caseName(p.index, "version " + std::to_string(p.param.major) + " " + std::to_string(p.param.minor)); });

TEST(PlayerLoad, TitlePaddingPlacesTheChannelCount) {
  for (const std::string title : {"", "a", "ab", "abc"}) {
    ImageContents contents = twoChannelSong();
    contents.title = title;
    const auto image = buildImage(contents);
    const std::size_t countAt = title.size() % 2 ? 19 + title.size() : 18 + title.size();
    ASSERT_EQ(readBe16(image.data() + countAt), 2) << "title '" << title << "'";
    QvbPlayer player(image.data(), image.size());
    EXPECT_EQ(player.getStatus(), PLAYER_READY);
    EXPECT_EQ(player.getChannelCount(), 2);
    EXPECT_EQ(titleOf(player), title);
  }
}

TEST(PlayerLoad, NoChannelsIsNoFailure) {
  for (std::uint8_t minor : {20, 40, 85}) {
    ImageContents contents;
    contents.versionMinor = minor;
    contents.title = "empty";
    const auto image = buildImage(contents);
    QvbPlayer player(image.data(), image.size());
    EXPECT_EQ(player.getStatus(), PLAYER_READY);
    EXPECT_EQ(player.getChannelCount(), 0);
  }
}

TEST(PlayerTitle, TruncatesToTheBufferSize) {
  ImageContents contents = twoChannelSong();
  contents.title = std::string(300, 't');
  const auto image = buildImage(contents);
  QvbPlayer player(image.data(), image.size());
  ASSERT_EQ(player.getStatus(), PLAYER_READY);
  char dest[256];
  EXPECT_EQ(player.getTitle(dest, 255), 254);
  EXPECT_EQ(std::strlen(dest), 254u);
  EXPECT_EQ(player.getTitle(dest, 1), 0);
  EXPECT_EQ(dest[0], 0);

  contents.title = "ten chars!";
  const auto shortImage = buildImage(contents);
  QvbPlayer shortPlayer(shortImage.data(), shortImage.size());
  EXPECT_EQ(shortPlayer.getTitle(dest, 255), 10);
  EXPECT_STREQ(dest, "ten chars!");
}

TEST(PlayerTitle, ZeroByteEndsTheTitleButNotItsLength) {
  ImageContents contents = twoChannelSong();
  contents.title = std::string("abc\0defg", 8);
  const auto image = buildImage(contents);
  QvbPlayer player(image.data(), image.size());
  char dest[16];
  std::memset(dest, 'x', sizeof dest);
  EXPECT_EQ(player.getTitle(dest, 255), 8);
  EXPECT_EQ(std::string(dest, 9), std::string("abc\0\0\0\0\0\0", 9));
}

TEST(PlayerReset, RewindsEveryTrackAndKeepsItsData) {
  const auto image = buildImage(twoChannelSong());
  QvbPlayer player(image.data(), image.size());
  const std::uint8_t* data0 = player.tracks()[0].data;
  EXPECT_EQ(player.reset(), 1);
  EXPECT_EQ(player.getStatus(), PLAYER_READY);
  EXPECT_EQ(player.context().tickInterval, 368);
  for (int i = 0; i < 2; ++i) {
    const Track& track = player.tracks()[i];
    EXPECT_EQ(track.pos, 0);
    EXPECT_EQ(track.wait, 1);
    EXPECT_EQ(track.keyOn, 0);
    EXPECT_EQ(track.loopMark, 0);
  }
  EXPECT_EQ(player.tracks()[0].data, data0);
  EXPECT_EQ(player.tracks()[0].length, 5);
}

TEST(PlayerRelease, DropsTheImageAndRefusesNothingAfterwards) {
  const auto image = buildImage(twoChannelSong());
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.release(), 1);
  EXPECT_EQ(player.getStatus(), PLAYER_NO_IMAGE);
  EXPECT_EQ(player.getChannelCount(), 0);
  EXPECT_EQ(player.load(image.data(), image.size()), PLAYER_READY);
  EXPECT_EQ(titleOf(player), "My song");
}

TEST(PlayerRelease, FailedLoadRefusesOperationsAndHoldsNothing) {
  const std::uint8_t text[] = "not an image at all";
  QvbPlayer player(text, sizeof text);
  ASSERT_EQ(player.getStatus(), PLAYER_BAD_MAGIC);
  EXPECT_EQ(player.reset(), 0);
  EXPECT_EQ(player.release(), 0);
  EXPECT_EQ(player.getStatus(), PLAYER_BAD_MAGIC);
  // A later load with good bytes still succeeds.
  const auto image = buildImage(twoChannelSong());
  EXPECT_EQ(player.load(image.data(), image.size()), PLAYER_READY);
}

}  // namespace
}  // namespace qvb
