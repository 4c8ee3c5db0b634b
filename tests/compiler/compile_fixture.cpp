#include "tests/compiler/compile_fixture.h"

#include <cstdio>
#include <cstring>

#include "song/qvb_format.h"

namespace qvb::test {

CompileResult compileSource(std::string_view text) {
  CompileResult result;
  const MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(text.data()),
                             static_cast<std::int32_t>(text.size()));
  result.status = compiler.status();
  compiler.errorInfo(result.error);
  if (result.status == 0) {
    result.image.resize(static_cast<std::size_t>(compiler.imageSize()));
    compiler.copyImage(result.image.data());
  }
  return result;
}

ImageParts splitImage(const Bytes& image) {
  ImageParts parts;
  const std::size_t size = image.size();
  const std::uint8_t* p = image.data();
  if (size < kFixedHeaderSize || std::memcmp(p, kMagic, kMagicSize) != 0) {
    parts.problem = "no magic";
    return parts;
  }
  parts.versionMajor = p[kVersionMajorOffset];
  parts.versionMinor = p[kVersionMinorOffset];
  const std::size_t titleLength = readBe16(p + kTitleLengthOffset);
  const std::size_t countAt = channelCountOffset(titleLength);
  if (countAt + 2 > size) {
    parts.problem = "title runs past the end";
    return parts;
  }
  parts.title.assign(reinterpret_cast<const char*>(p + kTitleOffset), titleLength);
  if ((titleLength & 1) != 0 && p[kTitleOffset + titleLength] != 0) {
    parts.problem = "pad byte is not 0";
    return parts;
  }
  const std::size_t channelCount = readBe16(p + countAt);
  const std::size_t tableAt = countAt + 2;
  std::size_t next = tableAt + kChannelEntrySize * channelCount + 4;
  if (next > size) {
    parts.problem = "channel table runs past the end";
    return parts;
  }
  for (std::size_t k = 0; k < channelCount; ++k) {
    const std::uint8_t* entry = p + tableAt + kChannelEntrySize * k;
    const std::size_t offset = readBe32(entry);
    const std::size_t length = readBe32(entry + 4);
    if (offset != next || length > size - offset) {
      parts.problem = "channel " + std::to_string(k) + " is not where the previous block ends";
      return parts;
    }
    parts.channels.emplace_back(p + offset, p + offset + length);
    next = offset + length;
  }
  const std::size_t waveList = readBe32(p + tableAt + kChannelEntrySize * channelCount);
  if (waveList != next || waveList + 2 > size) {
    parts.problem = "wave list is not right after the last block";
    return parts;
  }
  const std::size_t waveCount = readBe16(p + waveList);
  if (size != waveList + 2 + kWaveRecordSize * waveCount) {
    parts.problem = "image size does not match the wave count";
    return parts;
  }
  for (std::size_t j = 0; j < waveCount; ++j) {
    const std::uint8_t* record = p + waveList + 2 + kWaveRecordSize * j;
    parts.waves.emplace_back(record, record + kWaveRecordSize);
  }
  return parts;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", b);
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

std::string tied(std::string_view prefix, std::string_view unit, int count) {
  std::string text(prefix);
  for (int i = 0; i < count; ++i) {
    text += '^';
    text += unit;
  }
  return text;
}

}  // namespace qvb::test
