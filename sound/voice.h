// One synthesizer channel: an integer oscillator of five waveform types that
// adds its signal into an interleaved 16-bit stereo buffer with wrap-around.
// The sequencer writes volumeRight, volumeLeft, timbre and frequency directly
// and calls SetType between two Render calls.
#pragma once

#include <cstdint>

#include "sound/wave_slots.h"

namespace qvb {

enum VoiceType : std::int32_t { Square = 0, Pulse = 1, Noise = 2, Sine = 3, Wave = 4 };

// The level formula: the pulse types (square, pulse) play plus or minus
// pulseLevel(volume), the table types (noise, sine, wave) their table's value
// times tableMultiplier(volume); both cut to 16 bits.
constexpr int pulseLevel(std::int32_t volume) {
  return static_cast<std::int16_t>(static_cast<std::uint32_t>(volume) << 4);
}
constexpr int tableMultiplier(std::int32_t volume) { return static_cast<std::int16_t>(volume >> 2); }

class Voice {
 public:
  explicit Voice(const WaveSlots* waveSlots);

  // Resets phase and position; a type above 4 is refused and leaves the type.
  bool SetType(unsigned type);

  // Adds count / 2 stereo frames to buffer (count 16-bit values, left first).
  void Render(int sampleRate, std::int16_t* buffer, int count);
  // The other output formats carry the same signal; count is the number of
  // samples of that format. Mono is (left + right) >> 1; 8-bit adds the 16-bit
  // value rounded to its top byte as a signed number, and the Mixer turns the
  // finished buffer into unsigned PCM.
  void Render8Mono(int sampleRate, std::uint8_t* buffer, int count);
  void Render8Stereo(int sampleRate, std::uint8_t* buffer, int count);
  void Render16Mono(int sampleRate, std::int16_t* buffer, int count);

  std::int32_t type = Square;  // changed only through SetType
  std::int32_t phase = 0;
  std::int32_t position = 0;
  const std::int8_t* noiseTable = nullptr;
  const WaveSlots* waveSlots = nullptr;
  std::int32_t volumeRight = 0;
  std::int32_t volumeLeft = 0;
  std::int32_t timbre = 0;
  std::uint16_t frequency = 440;
};

}  // namespace qvb
