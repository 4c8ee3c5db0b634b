// The Mixer's 256 user wave slots, shared with every Voice: each slot is empty
// or holds one cycle of 32 signed 8-bit samples.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace qvb {

inline constexpr int kWaveSlotCount = 256;
inline constexpr int kWaveLength = 32;

using WaveSamples = std::array<std::int8_t, kWaveLength>;
using WaveSlots = std::array<std::unique_ptr<WaveSamples>, kWaveSlotCount>;

}  // namespace qvb
