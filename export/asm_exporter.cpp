#include "export/asm_exporter.h"

#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "song/qvb_format.h"
#include "song/track_commands.h"

namespace qvb {

namespace {

// Every block starts with the VOICE_TYPE command of FAMICOM-mode images; the
// Game Boy driver has no use for it.
constexpr std::uint32_t kSkippedBlockBytes = fixedItemBytes(VOICE_TYPE);
constexpr std::size_t kBytesPerLine = 8;

struct ExportBlock {
  std::uint64_t position = 0;  // first exported byte
  std::uint32_t count = 0;     // exported bytes
};

void appendHex(std::string& out, std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "0x";
  out += kDigits[value >> 4];
  out += kDigits[value & 0x0F];
}

void appendHeader(std::string& out, std::string_view title) {
  char comment[80];
  std::snprintf(comment, sizeof comment,
                ";; This section is created by qvb2asm converter v%1.2f\n",
                static_cast<double>(kConverterVersion));
  out += ";;\n";
  out += comment;
  out += ";;\n";
  out += title;
  out += "::\n";
}

void appendSizeLine(std::string& out, std::uint32_t count, int channel) {
  out += "\t.byte ";
  appendHex(out, static_cast<std::uint8_t>(count & 0xFF));
  out += ", ";
  appendHex(out, static_cast<std::uint8_t>(count >> 8));
  out += "\t;data size of channel ";
  out += std::to_string(channel);
  out += " (little endian)\n";
}

// Eight bytes a line, the last line holding what is left.
void appendData(std::string& out, std::span<const std::uint8_t> data, int channel) {
  out += "\n\t;channel ";
  out += std::to_string(channel);
  out += " data\n\n";
  while (!data.empty()) {
    const std::size_t n = data.size() < kBytesPerLine ? data.size() : kBytesPerLine;
    out += "\t.byte ";
    for (std::size_t i = 0; i < n; ++i) {
      if (i != 0) out += ", ";
      appendHex(out, data[i]);
    }
    out += '\n';
    data = data.subspan(n);
  }
}

}  // namespace

int AsmExporter::convert(std::string& out, const std::uint8_t* image, std::size_t size) {
  const std::span<const std::uint8_t> bytes(image, image == nullptr ? 0 : size);
  if (!hasMagic(bytes)) return ASM_BAD_MAGIC;
  if (bytes.size() < kTitleLengthOffset) return ASM_PAST_END;
  if (bytes[kVersionMajorOffset] != kConverterVersionMajor ||
      bytes[kVersionMinorOffset] != kConverterVersionMinor)
    return ASM_BAD_VERSION;
  if (bytes.size() < kFixedHeaderSize) return ASM_PAST_END;

  const std::size_t titleLength = readBe16(&bytes[kTitleLengthOffset]);
  if (bytes.size() - kTitleOffset < titleLength) return ASM_PAST_END;
  std::string_view title(reinterpret_cast<const char*>(&bytes[kTitleOffset]), titleLength);
  title = title.substr(0, title.find('\0'));
  appendHeader(out, title);

  // From here on a refusal leaves the four header lines in place.
  const std::size_t countAt = channelCountOffset(titleLength);
  if (bytes.size() < countAt + 2) return ASM_PAST_END;
  if (readBe16(&bytes[countAt]) != kExportChannelCount) return ASM_BAD_CHANNEL_COUNT;
  const std::size_t tableAt = countAt + 2;
  if (bytes.size() - tableAt < kExportChannelCount * kChannelEntrySize) return ASM_PAST_END;

  std::array<std::uint32_t, kExportChannelCount> offsets{};
  std::array<std::uint32_t, kExportChannelCount> lengths{};
  for (std::size_t i = 0; i < kExportChannelCount; ++i) {
    offsets[i] = readBe32(&bytes[tableAt + i * kChannelEntrySize]);
    lengths[i] = readBe32(&bytes[tableAt + i * kChannelEntrySize + 4]);
  }
  for (std::uint32_t length : lengths)
    if (length > kMaxExportBlockLength) return ASM_BLOCK_TOO_LONG;

  std::array<ExportBlock, kExportChannelCount> blocks{};
  for (std::size_t i = 0; i < kExportChannelCount; ++i) {
    if (std::uint64_t{offsets[i]} + lengths[i] > bytes.size()) return ASM_PAST_END;
    // A block of 0 or 1 bytes has no voice-type command to drop: nothing is exported.
    if (lengths[i] >= kSkippedBlockBytes) {
      blocks[i].position = std::uint64_t{offsets[i]} + kSkippedBlockBytes;
      blocks[i].count = lengths[i] - kSkippedBlockBytes;
    }
  }

  for (std::size_t i = 0; i < kExportChannelCount; ++i)
    appendSizeLine(out, blocks[i].count, static_cast<int>(i + 1));
  for (std::size_t i = 0; i < kExportChannelCount; ++i)
    appendData(out, bytes.subspan(blocks[i].position, blocks[i].count), static_cast<int>(i + 1));
  return ASM_CONVERTED;
}

int AsmExporter::convert(std::FILE* out, const std::uint8_t* image, std::size_t size) {
  std::string text;
  const int result = convert(text, image, size);
  const bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), out) == text.size();
  // A refusal says more than the failed write of its partial text.
  return result == ASM_CONVERTED && !written ? ASM_WRITE_FAILED : result;
}

}  // namespace qvb
