// Per-channel sequencer state (Track) and the block of player fields that both
// timer callbacks receive (DriverContext).
#pragma once

#include <cstdint>

#include "song/track_commands.h"

namespace qvb {

class Voice;
class Mixer;
class SequencerObserver;

struct Track {
  const std::uint8_t* data = nullptr;  // first byte of the channel's block inside the image
  std::int32_t pos = 0;                // offset of the next byte to read
  std::int32_t loopMark = 0;           // where reading resumes at END; 0 = no mark
  std::int32_t repeatStart[kRepeatLevels] = {};
  std::int32_t repeatCount[kRepeatLevels] = {};
  std::int32_t repeatExit[kRepeatLevels] = {};
  std::int32_t wait = 0;  // ticks left of the current item; 0 = finished
  std::int32_t release = 0;
  std::int32_t sweep = 0;
  std::int32_t detune = 0;
  std::int32_t keyOn = 0;
  std::int32_t volumeRight = 0;
  std::int32_t volumeLeft = 0;
  std::int32_t periodMode = 0;
  std::int32_t period = 0;
  std::int32_t vibratoOn = 0;
  std::int32_t vibratoBase = 0;
  std::int32_t noteFrames = 0;
  std::int32_t vibratoTimer = 0;
  std::int32_t vibratoTurns = 0;
  std::int32_t vibratoRange = 0;
  std::int32_t vibratoDelta = 0;
  std::int32_t vibratoOffset = 0;
  std::int32_t vibratoDelay = 0;
  std::int32_t vibratoDepth = 0;
  std::int32_t vibratoRate = 0;
  std::int32_t vibratoStep = 0;
  std::int32_t vibratoGrowth = 0;

  // Kept by the player beside the sequencer state: the block's length bounds
  // every read (at the bound the channel acts as END), and the count of jumps
  // back to the loop mark lets a renderer stop after a number of loops.
  std::int32_t length = 0;
  std::int32_t loopJumps = 0;

  bool operator==(const Track&) const = default;
};

// The tick interval a song starts with, before any tempo command.
inline constexpr std::int32_t kStartTickInterval = 368;

struct DriverContext {
  const std::uint16_t* noteFrequency = nullptr;
  const std::uint16_t* periodFrequency = nullptr;
  const std::uint16_t* notePeriod = nullptr;
  std::int32_t channelCount = 0;
  Voice** voices = nullptr;
  Track* tracks = nullptr;
  std::int32_t tickInterval = 0;
  Mixer* mixer = nullptr;
  // Told of every channel event as the sequencer reads it; null = nobody listens.
  SequencerObserver* observer = nullptr;
};

}  // namespace qvb
