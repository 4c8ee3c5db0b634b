// The song header of a QVM source: what the directives #TITLE, #CHANNEL,
// #PRAGMA FAMICOM and #WAV set, read from the header lines (reader channel 0).
#pragma once

#include <cstdint>
#include <vector>

#include "compiler/wave_def.h"

namespace qvb {

class MmlSource;

inline constexpr std::int32_t kModeNormal = 0;
inline constexpr std::int32_t kModeFamicom = 1;
inline constexpr std::size_t kMaxTitleLength = 65535;  // the image's 16-bit title length
inline constexpr std::size_t kMaxWaves = 255;          // the image's wave count byte

// A place in the header lines: 1-based line and row, 0 and 0 when none.
struct HeaderPlace {
  std::int32_t line = 0, row = 0;
};

struct SongHeader {
  std::int32_t mode = kModeNormal;
  std::int32_t channelCount = -1;   // -1 until #CHANNEL
  HeaderPlace channelAt;            // where the #CHANNEL that set the count began
  HeaderPlace itemAt;               // where the item read last began: after an error, the faulty one
  std::vector<std::uint8_t> title;  // every #TITLE appends; empty = no title
  std::vector<WaveDef> waves;       // in source order, each with 32 values
  std::int32_t refusedWaveValues = 0;  // of a #WAV refused for its count: the values it gave (capped)
};

// Reads every directive of channel 0. Returns 0 or a negative code; on an
// error the reader stands at the place of the fault.
int parseHeader(MmlSource& reader, SongHeader& header);

}  // namespace qvb
