// One wave definition of a #WAV directive: the slot it fills and one period of
// 32 signed 8-bit samples, stored whole in the image's wave list.
#pragma once

#include <array>
#include <cstdint>

#include "song/qvb_format.h"

namespace qvb {

struct WaveDef {
  // Values counted past this mark can never make a valid definition, so the
  // count stops there instead of wrapping like the one-byte count of the image.
  static constexpr std::int32_t kCountLimit = 256;

  std::uint8_t index = 0;
  std::int32_t count = 0;  // values given so far, at most kCountLimit
  std::array<std::int8_t, kWaveSampleCount> samples{};

  // Appends the low 8 bits of a value; only the first 32 are kept.
  void append(std::int64_t value) {
    if (count < static_cast<std::int32_t>(kWaveSampleCount))
      samples[static_cast<std::size_t>(count)] =
          static_cast<std::int8_t>(static_cast<std::uint8_t>(value & 0xFF));
    if (count < kCountLimit) ++count;
  }
};

}  // namespace qvb
