// The QVB image container: magic, version, title, channel table and wave list.
// All multi-byte numbers in an image are big-endian. This header holds the field
// offsets and limits shared by the player, the compiler's image writer and the
// assembler exporter, and the byte readers they use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qvb {

inline constexpr char kMagic[14] = "QuaverMachine";  // 13 characters and the zero byte
inline constexpr std::size_t kMagicSize = 14;
inline constexpr std::size_t kVersionMajorOffset = 14;
inline constexpr std::size_t kVersionMinorOffset = 15;
inline constexpr std::size_t kTitleLengthOffset = 16;
inline constexpr std::size_t kTitleOffset = 18;
inline constexpr std::size_t kFixedHeaderSize = 18;
inline constexpr std::size_t kChannelEntrySize = 8;  // dataOffset, dataLength
inline constexpr std::size_t kWaveRecordSize = 34;   // index, count, 32 samples
inline constexpr std::size_t kWaveSampleCount = 32;

// Version numbers are versionMajor * 100 + versionMinor; they select the layout.
inline constexpr int kLastLayout1Version = 20;
inline constexpr int kLastLayout2Version = 60;
inline constexpr int kLastReadableVersion = 85;

enum class Layout { BackToBack = 1, Offsets = 2, OffsetsAndWaves = 3 };

inline constexpr Layout layoutOf(int version) {
  if (version <= kLastLayout1Version) return Layout::BackToBack;
  if (version <= kLastLayout2Version) return Layout::Offsets;
  return Layout::OffsetsAndWaves;
}

inline constexpr std::uint16_t readBe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline constexpr std::uint32_t readBe32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Offset of the channel count: the title padded to an even length.
inline constexpr std::size_t channelCountOffset(std::size_t titleLength) {
  return kTitleOffset + titleLength + (titleLength & 1);
}

bool hasMagic(std::span<const std::uint8_t> image);

}  // namespace qvb
