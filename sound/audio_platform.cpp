#include "sound/audio_platform.h"

#include <new>

namespace qvb {

std::uint32_t formatFlag(const AudioFormat& format) {
  const bool eightBit = format.bytesPerSample == 1;
  const bool mono = format.channels == 1;
  std::uint32_t flag = eightBit ? (mono ? kFormat2M08 : kFormat2S08)
                                : (mono ? kFormat2M16 : kFormat2S16);
  // The 44100 Hz flags sit four bits above their 22050 Hz twins.
  if (format.sampleRate == 44100) flag <<= 4;
  return flag;
}

std::uint8_t* AudioPlatform::allocateBuffer(std::int32_t bytes) {
  if (bytes <= 0) return nullptr;
  return new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]();
}

void AudioPlatform::freeBuffer(std::uint8_t* data) { delete[] data; }

}  // namespace qvb
