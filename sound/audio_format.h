// The PCM format of the open output device, handed to every fill of the Mixer.
#pragma once

#include <cstdint>

namespace qvb {

struct AudioFormat {
  std::int32_t bytesPerSample = 2;  // 1 or 2
  std::int32_t channels = 2;        // 1 or 2
  std::int32_t sampleRate = 44100;  // 44100 or 22050
};

inline constexpr bool operator==(const AudioFormat& a, const AudioFormat& b) {
  return a.bytesPerSample == b.bytesPerSample && a.channels == b.channels &&
         a.sampleRate == b.sampleRate;
}

// Adds the next piece of sound to a buffer that arrives all zeros.
using FillCallback = void (*)(const AudioFormat* format, void* context, std::uint8_t* buffer,
                              std::int32_t bytes);

}  // namespace qvb
