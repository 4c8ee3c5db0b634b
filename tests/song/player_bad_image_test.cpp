// Images whose fields point past their end are refused without being read
// beyond it (the sanitizer build checks the "without").
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "song/qvb_format.h"
#include "song/qvb_player.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb {
namespace {

using test::buildImage;
using test::ImageContents;
using test::putBe16;
using test::putBe32;

ImageContents songWithWaves(std::uint8_t minor = 85) {
  ImageContents contents;
  contents.versionMinor = minor;
  contents.title = "abc";
  contents.channels = {{0x81, 0xF0, 0x30, 0x30, 0xFF}, {0xFF}, {}};
  contents.waves = {{.index = 5}, {.index = 7}};
  return contents;
}

int statusOf(const std::vector<std::uint8_t>& image) {
  // An exact-size heap copy, so that any read past the end is caught.
  std::vector<std::uint8_t> bytes(image);
  QvbPlayer player(bytes.data(), bytes.size());
  return player.getStatus();
}

TEST(PlayerBadImage, EveryTruncationIsRefused) {
  for (std::uint8_t minor : {20, 40, 85}) {
    const auto image = buildImage(songWithWaves(minor));
    ASSERT_EQ(statusOf(image), PLAYER_READY);
    for (std::size_t size = 1; size < image.size(); ++size) {  // size 0 has no bytes: no image
      const std::vector<std::uint8_t> prefix(image.begin(), image.begin() + size);
      const int expected = size < kMagicSize ? PLAYER_BAD_MAGIC : PLAYER_BAD_IMAGE;
      EXPECT_EQ(statusOf(prefix), expected) << "version 0." << int{minor} << ", size " << size;
    }
  }
}

struct Corruption {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> apply;
};

// Offsets in songWithWaves(): title "abc" pads to 4, so the channel count is
// at 22, the table at 24 (three entries), the wave list offset at 48.
const std::vector<Corruption> kCorruptions = {
    {"title longer than the image", [](auto& im) { putBe16(im, 16, 0xFFFF); }},
    {"channel count past the table", [](auto& im) { putBe16(im, 22, 0xFFFF); }},
    {"data offset past the end", [](auto& im) { putBe32(im, 24, static_cast<std::uint32_t>(im.size() + 1)); }},
    {"data length past the end", [](auto& im) { putBe32(im, 28, static_cast<std::uint32_t>(im.size())); }},
    {"offset plus length wraps 32 bits", [](auto& im) { putBe32(im, 24, 0xFFFFFFF0u); putBe32(im, 28, 0x20); }},
    {"wave list offset past the end", [](auto& im) { putBe32(im, 48, static_cast<std::uint32_t>(im.size() - 1)); }},
    {"wave count past the end", [](auto& im) { putBe16(im, readBe32(im.data() + 48), 3); }},
};

TEST(PlayerBadImage, FieldsPointingPastTheEndAreRefused) {
  const auto good = buildImage(songWithWaves());
  ASSERT_EQ(readBe16(good.data() + 22), 3);
  for (const Corruption& corruption : kCorruptions) {
    auto image = good;
    corruption.apply(image);
    EXPECT_EQ(statusOf(image), PLAYER_BAD_IMAGE) << corruption.what;
  }
}

TEST(PlayerBadImage, BackToBackBlocksMustFitTogether) {
  ImageContents contents = songWithWaves(20);
  auto image = buildImage(contents);
  // Each block fits alone, but channel 2 starts where 0 and 1 end: make
  // channel 1 claim one byte more than is left before the end.
  putBe32(image, 24 + 8 + 4, 2);  // channel 1 claims two bytes where one is left
  EXPECT_EQ(statusOf(image), PLAYER_BAD_IMAGE);
}

TEST(PlayerBadImage, ExactFitIsAccepted) {
  // A wave list that ends exactly at the last byte, and an empty final block.
  EXPECT_EQ(statusOf(buildImage(songWithWaves())), PLAYER_READY);
}

}  // namespace
}  // namespace qvb
