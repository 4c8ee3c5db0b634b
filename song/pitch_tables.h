// The three constant pitch tables of the sequencer: note number to frequency,
// period value to frequency, and note number to period value. They are the
// same for every song version and are read only by the sequencer.
#pragma once

#include <array>
#include <cstdint>

namespace qvb {

inline constexpr int kNoteCount = 128;
inline constexpr int kPeriodCount = 4096;
inline constexpr int kMaxPeriod = kPeriodCount - 1;

// Frequency in Hz of note n: floor(440 * 2^((n - 69) / 12)).
extern const std::array<std::uint16_t, kNoteCount> kNoteFrequency;
// Frequency in Hz of period k: 55930 / k, and 65535 for period 0.
extern const std::array<std::uint16_t, kPeriodCount> kPeriodFrequency;
// Period value of note n; 0 outside notes 12..107.
extern const std::array<std::uint16_t, kNoteCount> kNotePeriod;

}  // namespace qvb
