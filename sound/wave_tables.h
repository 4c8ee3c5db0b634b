// The built-in waveform tables the voices play: one sine cycle of 256 steps
// and a fixed 4096-step noise sequence, both signed 8-bit.
#pragma once

#include <array>
#include <cstdint>

namespace qvb {

inline constexpr int kSineLength = 256;
inline constexpr int kNoiseLength = 4096;

// Entry i = 64 * sin(2 * pi * i / 256), truncated toward zero (range -64..64).
extern const std::array<std::int8_t, kSineLength> kSineTable;

// Pseudo-random values spread evenly over -128..127, fixed for all time
// (songs sound the same everywhere).
extern const std::array<std::int8_t, kNoiseLength> kNoiseTable;

}  // namespace qvb
