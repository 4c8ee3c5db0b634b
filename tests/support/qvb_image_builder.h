// Builds QVB images for tests: any version and layout, raw title bytes,
// per-channel track bytes and wave records, in the canonical arrangement.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvb::test {

struct WaveRecord {
  std::uint8_t index = 0;
  std::uint8_t count = 32;
  std::array<std::int8_t, 32> samples{};
};

struct ImageContents {
  std::uint8_t versionMajor = 0, versionMinor = 85;  // 0/85 = layout 3 with wave list
  std::string title;                                  // raw bytes, may hold zeros
  std::vector<std::vector<std::uint8_t>> channels;    // track bytes per channel
  std::vector<WaveRecord> waves;                      // written in layout 3 only
};

// Blocks follow the channel table (and, in layout 3, the wave list offset)
// back to back with exact dataOffset/dataLength; the wave list comes last.
std::vector<std::uint8_t> buildImage(const ImageContents& contents);

// Big-endian writers for tests that patch images by hand.
void putBe16(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value);
void putBe32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value);

}  // namespace qvb::test
