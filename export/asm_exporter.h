// Converts a version 0.81 three-channel QVB image into Game Boy assembler text:
// a label named after the title, a little-endian size word per channel and the
// channels' track data (less the leading voice-type command) as .byte lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qvb {

// Result codes of AsmExporter::convert. The checks run in this order; what has
// been written when a code comes back is listed with it.
enum AsmResult : int {
  ASM_CONVERTED = 0,            // the whole text
  ASM_BAD_MAGIC = 1,            // nothing (also for images shorter than the magic)
  ASM_BAD_VERSION = 2,          // nothing: the version bytes are not 0 and 81
  ASM_BAD_CHANNEL_COUNT = 3,    // the three comment lines and the label line
  ASM_BLOCK_TOO_LONG = 4,       // the same four lines: a dataLength above 65535
  // The version bytes, the title, the channel count, the channel table or a
  // channel block lie past the end of the image. Nothing is written when the
  // version bytes or the title are missing; the four header lines when the
  // count, the table or a block is (blocks are checked after code 4).
  ASM_PAST_END = 5,
  // The output stream refused the text; part of it may have been written.
  ASM_WRITE_FAILED = 6,
};

inline constexpr float kConverterVersion = 0.81f;
inline constexpr std::uint8_t kConverterVersionMajor = 0;
inline constexpr std::uint8_t kConverterVersionMinor = 81;
inline constexpr int kExportChannelCount = 3;
inline constexpr std::uint32_t kMaxExportBlockLength = 0xFFFF;

class AsmExporter {
 public:
  // Writes the text to `out`, an open stream the caller closes; never closes
  // or flushes it. Reads nothing at or past image + size.
  static int convert(std::FILE* out, const std::uint8_t* image, std::size_t size);
  // The same text appended to `out`, for callers that keep it in memory.
  static int convert(std::string& out, const std::uint8_t* image, std::size_t size);
};

}  // namespace qvb
