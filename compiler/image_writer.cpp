#include "compiler/image_writer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "compiler/large_buffer.h"
#include "compiler/mml_compiler.h"
#include "song/qvb_format.h"

namespace qvb {

namespace {

void putBe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void putBe32(std::uint8_t* p, std::uint32_t v) {
  putBe16(p, v >> 16);
  putBe16(p + 2, v);
}

}  // namespace

std::vector<std::uint8_t> writeImage(const SongHeader& header, const ChannelBuffers& tracks,
                                     std::vector<std::uint8_t>&& room) {
  const std::size_t titleLength = header.title.size();
  const std::size_t channels = static_cast<std::size_t>(tracks.count());
  const std::size_t tableOffset = channelCountOffset(titleLength) + 2;
  const std::size_t dataOffset = tableOffset + kChannelEntrySize * channels + 4;
  std::size_t waveListOffset = dataOffset;
  for (std::size_t k = 0; k < channels; ++k) waveListOffset += static_cast<std::size_t>(tracks.length(static_cast<std::int32_t>(k)));

  const std::size_t imageSize = waveListOffset + 2 + kWaveRecordSize * header.waves.size();
  std::vector<std::uint8_t> image = std::move(room);
  image.clear();
  if (image.capacity() < imageSize) {
    image = {};
    reserveLarge(image, imageSize);
  }
  image.resize(imageSize);
  std::uint8_t* p = image.data();
  std::memcpy(p, kMagic, kMagicSize);
  const int version = static_cast<int>(compilerVersion() * 100.0f);
  p[kVersionMajorOffset] = static_cast<std::uint8_t>(version / 100);
  p[kVersionMinorOffset] = static_cast<std::uint8_t>(version % 100);
  putBe16(p + kTitleLengthOffset, static_cast<std::uint32_t>(titleLength));
  std::copy(header.title.begin(), header.title.end(), p + kTitleOffset);  // the pad byte stays 0
  putBe16(p + tableOffset - 2, static_cast<std::uint32_t>(channels));

  std::size_t offset = dataOffset;
  for (std::size_t k = 0; k < channels; ++k) {
    const std::int32_t length = tracks.length(static_cast<std::int32_t>(k));
    putBe32(p + tableOffset + kChannelEntrySize * k, static_cast<std::uint32_t>(offset));
    putBe32(p + tableOffset + kChannelEntrySize * k + 4, static_cast<std::uint32_t>(length));
    tracks.copyTo(static_cast<std::int32_t>(k), p + offset);
    offset += static_cast<std::size_t>(length);
  }
  putBe32(p + dataOffset - 4, static_cast<std::uint32_t>(waveListOffset));

  std::uint8_t* record = p + waveListOffset;
  putBe16(record, static_cast<std::uint32_t>(header.waves.size() & 0xFF));
  record += 2;
  for (const WaveDef& wave : header.waves) {
    record[0] = wave.index;
    record[1] = static_cast<std::uint8_t>(wave.count);
    for (std::size_t i = 0; i < kWaveSampleCount; ++i) record[2 + i] = static_cast<std::uint8_t>(wave.samples[i]);
    record += kWaveRecordSize;
  }
  return image;
}

}  // namespace qvb
