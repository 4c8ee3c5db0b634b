#include "tests/support/qvb_image_builder.h"

#include <cstring>

namespace qvb::test {

void putBe16(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  image.at(at) = static_cast<std::uint8_t>(value >> 8);
  image.at(at + 1) = static_cast<std::uint8_t>(value);
}

void putBe32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
  putBe16(image, at, value >> 16);
  putBe16(image, at + 2, value & 0xFFFF);
}

std::vector<std::uint8_t> buildImage(const ImageContents& contents) {
  const int version = contents.versionMajor * 100 + contents.versionMinor;
  const bool hasWaveList = version > 60;
  const std::size_t titleLength = contents.title.size();
  const std::size_t countAt = 18 + titleLength + (titleLength & 1);
  const std::size_t tableAt = countAt + 2;
  const std::size_t n = contents.channels.size();
  std::size_t dataAt = tableAt + 8 * n + (hasWaveList ? 4 : 0);

  std::vector<std::uint8_t> image(dataAt);
  std::memcpy(image.data(), "QuaverMachine", 14);
  image[14] = contents.versionMajor;
  image[15] = contents.versionMinor;
  putBe16(image, 16, static_cast<std::uint32_t>(titleLength));
  std::memcpy(image.data() + 18, contents.title.data(), titleLength);
  putBe16(image, countAt, static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    putBe32(image, tableAt + 8 * i, static_cast<std::uint32_t>(image.size()));
    putBe32(image, tableAt + 8 * i + 4, static_cast<std::uint32_t>(contents.channels[i].size()));
    image.insert(image.end(), contents.channels[i].begin(), contents.channels[i].end());
  }
  if (hasWaveList) {
    putBe32(image, tableAt + 8 * n, static_cast<std::uint32_t>(image.size()));
    image.push_back(static_cast<std::uint8_t>(contents.waves.size() >> 8));
    image.push_back(static_cast<std::uint8_t>(contents.waves.size()));
    for (const WaveRecord& wave : contents.waves) {
      image.push_back(wave.index);
      image.push_back(wave.count);
      for (std::int8_t s : wave.samples) image.push_back(static_cast<std::uint8_t>(s));
    }
  }
  return image;
}

}  // namespace qvb::test
