// The song loader: images pass through, source is compiled, and a refused
// song is diagnosed with where the fault lies.
#include "loader/song_loader.h"

#include <gtest/gtest.h>

#include <string>

#include "compiler/compile_errors.h"
#include "song/qvb_format.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

test::ImageContents twoChannels() {
  test::ImageContents contents;
  contents.title = "ab";
  contents.channels = {{0xFF}, {0xFF}};
  return contents;
}

TEST(SongLoader, AnImagePassesThroughUnchanged) {
  const auto image = test::buildImage(twoChannels());
  const LoadedSong song = loadSong(image);
  ASSERT_TRUE(song.ok());
  EXPECT_EQ(song.image, image);
}

TEST(SongLoader, SourceIsCompiledToAnImage) {
  const LoadedSong song = loadSong(bytesOf("#TITLE <t>\n#CHANNEL 1\n#A c\n"));
  ASSERT_TRUE(song.ok());
  EXPECT_TRUE(hasMagic(song.image));
}

TEST(SongLoader, ACompileErrorNamesItsChannelLetter) {
  const LoadedSong song = loadSong(bytesOf("#TITLE <t>\n#CHANNEL 2\n#A c\n#B v16 c\n"));
  ASSERT_EQ(song.diagnosis.problem, SongProblem::Compile);
  EXPECT_EQ(song.diagnosis.error.type, ERR_VOLUME);
  EXPECT_EQ(song.diagnosis.error.line, 4);
  EXPECT_EQ(song.diagnosis.channel, 'B');
  EXPECT_EQ(describeProblem(song.diagnosis, "s.qvm"),
            "s.qvm:4:8: error -515 ERR_VOLUME: " + std::string(findErrorCode(ERR_VOLUME)->meaning));
}

TEST(SongLoader, AHeaderErrorHasNoChannel) {
  const LoadedSong song = loadSong(bytesOf("#TITLE <t>\n#CHANNEL 1\n#WAV 0,<[33 0,]>\n#A c\n"));
  ASSERT_EQ(song.diagnosis.problem, SongProblem::Compile);
  EXPECT_EQ(song.diagnosis.channel, 0);
}

TEST(SongLoader, AnImageWhoseChannelBlockRunsPastTheEndIsDamaged) {
  auto image = test::buildImage(twoChannels());
  // The second channel's length field (table entry 1, after its offset).
  test::putBe32(image, channelCountOffset(2) + 2 + kChannelEntrySize + 4, 0x10000);
  const LoadedSong song = loadSong(image);
  ASSERT_EQ(song.diagnosis.problem, SongProblem::DamagedImage);
  EXPECT_EQ(song.diagnosis.fault, PlayerFault::ChannelBlock);
  EXPECT_EQ(song.diagnosis.faultChannel, 1);
  EXPECT_TRUE(song.image.empty());
  EXPECT_EQ(describeProblem(song.diagnosis, "x.qvb"),
            "x.qvb: damaged QVB image: the block of channel B runs past the end");
}

TEST(SongLoader, ACutImageNamesItsWaveList) {
  auto image = test::buildImage(twoChannels());
  image.pop_back();  // the wave count loses a byte
  const LoadedSong song = loadSong(image);
  ASSERT_EQ(song.diagnosis.problem, SongProblem::DamagedImage);
  EXPECT_EQ(song.diagnosis.fault, PlayerFault::WaveList);
}

}  // namespace
}  // namespace qvb
