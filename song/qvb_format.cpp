#include "song/qvb_format.h"

#include <algorithm>
#include <cstring>

namespace qvb {

bool hasMagic(std::span<const std::uint8_t> image) {
  return image.size() >= kMagicSize && std::memcmp(image.data(), kMagic, kMagicSize) == 0;
}

namespace {

// True when [offset, offset + length) lies inside bytes of `size`.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

ImageView damaged(ImageView view, ImageFault fault, int channel = -1) {
  view.check = ImageCheck::Damaged;
  view.fault = fault;
  view.faultChannel = channel;
  view.title = {};
  view.channels = {};
  view.waves = {};
  return view;
}

}  // namespace

std::span<const std::uint8_t> ImageView::titleText() const {
  return title.first(static_cast<std::size_t>(std::find(title.begin(), title.end(), 0) - title.begin()));
}

ImageView viewImage(std::span<const std::uint8_t> bytes) {
  ImageView view;
  if (!hasMagic(bytes)) return view;
  const std::size_t size = bytes.size();
  const std::uint8_t* data = bytes.data();
  if (size < kFixedHeaderSize) return damaged(view, ImageFault::FixedHeader);
  view.version = data[kVersionMajorOffset] * 100 + data[kVersionMinorOffset];
  if (view.version > kLastReadableVersion) {
    view.check = ImageCheck::BadVersion;
    return view;
  }
  view.layout = layoutOf(view.version);

  const std::uint32_t titleLength = readBe16(data + kTitleLengthOffset);
  const std::size_t countAt = channelCountOffset(titleLength);
  if (!inside(countAt, 2, size)) return damaged(view, ImageFault::Title);
  const std::uint32_t channelCount = readBe16(data + countAt);
  const std::size_t tableAt = countAt + 2;
  const std::size_t tableEnd = tableAt + kChannelEntrySize * channelCount;
  view.hasWaveList = view.layout == Layout::OffsetsAndWaves;
  const std::size_t waveOffsetSize = view.hasWaveList ? 4 : 0;
  if (!inside(tableAt, tableEnd - tableAt + waveOffsetSize, size)) return damaged(view, ImageFault::ChannelTable);
  view.channelTableAt = tableAt;

  view.channels.reserve(channelCount);
  std::uint64_t running = tableEnd;  // back to back: the blocks follow the table
  for (std::uint32_t i = 0; i < channelCount; ++i) {
    const std::uint8_t* entry = data + tableAt + kChannelEntrySize * i;
    const std::uint32_t length = readBe32(entry + 4);
    const std::uint64_t offset = view.layout == Layout::BackToBack ? running : readBe32(entry);
    if (!inside(offset, length, size)) return damaged(view, ImageFault::ChannelBlock, static_cast<int>(i));
    running += length;
    view.channels.push_back(bytes.subspan(static_cast<std::size_t>(offset), length));
  }

  if (view.hasWaveList) {
    const std::uint32_t listAt = readBe32(data + tableEnd);
    if (!inside(listAt, 2, size)) return damaged(view, ImageFault::WaveList);
    const std::uint32_t waveCount = readBe16(data + listAt);
    const std::uint64_t recordsSize = std::uint64_t{kWaveRecordSize} * waveCount;
    if (!inside(listAt + 2, recordsSize, size)) return damaged(view, ImageFault::WaveList);
    view.waves = bytes.subspan(listAt + 2, static_cast<std::size_t>(recordsSize));
  }
  view.title = bytes.subspan(kTitleOffset, titleLength);
  view.check = ImageCheck::Ok;
  return view;
}

}  // namespace qvb
