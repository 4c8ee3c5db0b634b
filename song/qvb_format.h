// The QVB image container: magic, version, title, channel table and wave list.
// All multi-byte numbers in an image are big-endian. This header holds the field
// offsets and limits shared by the player, the compiler's image writer and the
// assembler exporter, the byte readers they use, and the one validated view of
// an image that every reader takes its parts from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

// How an image was taken: whole, or refused for its magic, its version, or a
// part that lies past its end.
enum class ImageCheck { Ok, BadMagic, BadVersion, Damaged };
// Which part of a damaged image lies past its end.
enum class ImageFault { None, FixedHeader, Title, ChannelTable, ChannelBlock, WaveList };

// An image's parts, each checked to lie inside the bytes before anything was
// read from it or allocated for it. The spans point into the bytes viewed,
// which must outlive the view.
struct ImageView {
  ImageCheck check = ImageCheck::BadMagic;
  ImageFault fault = ImageFault::None;
  int faultChannel = -1;  // for ImageFault::ChannelBlock, 0-based
  int version = 0;        // versionMajor * 100 + versionMinor
  Layout layout = Layout::OffsetsAndWaves;
  // The title field as stored (titleLength bytes; it may hold zero bytes).
  std::span<const std::uint8_t> title;
  std::vector<std::span<const std::uint8_t>> channels;  // each channel's block
  std::size_t channelTableAt = 0;  // where the channel table begins
  // The wave records (34 bytes each), empty before the layout that has them.
  std::span<const std::uint8_t> waves;
  bool hasWaveList = false;  // the layout has a wave list (possibly empty)

  bool ok() const { return check == ImageCheck::Ok; }
  std::size_t waveCount() const { return waves.size() / kWaveRecordSize; }
  // The title up to its first zero byte.
  std::span<const std::uint8_t> titleText() const;
};

// The one reader of an image's structure. Throws only std::bad_alloc.
ImageView viewImage(std::span<const std::uint8_t> bytes);

}  // namespace qvb
