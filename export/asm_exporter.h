// Converts a version 0.81 three-channel QVB image into Game Boy assembler text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qvb {

class AsmExporter {
 public:
  // 0 when the whole text was written, else a result code (see the .cpp).
  static int convert(std::FILE* out, const std::uint8_t* image, std::size_t size);
};

}  // namespace qvb
