// Plays a started QvbPlayer by pulling its sound as every pull host does,
// for the player and contract harnesses. Time can run
// fast: before every fill the effect frame is set to come every timer unit
// and the tick every unit, so loops, tempo changes and vibrato steps
// come within a few thousand frames. The timers still run the real
// sequencer, and a TEMPO command still sets the interval inside a fill.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "song/qvb_player.h"
#include "sound/audio_format.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"

namespace qvb::fuzz {

inline constexpr std::int32_t kFastTickInterval = 1;

// Every output layout at both rates.
inline constexpr AudioFormat kFormats[8] = {
    {2, 2, 44100}, {2, 1, 44100}, {1, 2, 44100}, {1, 1, 44100},
    {2, 2, 22050}, {2, 1, 22050}, {1, 2, 22050}, {1, 1, 22050},
};

inline void check(bool condition) {
  if (!condition) std::abort();
}

// Pulls `fills` pieces of `bytes` bytes each from the player's Mixer (none
// when it has no Mixer).
inline void playFills(const QvbPlayer& player, const AudioFormat& format, int fills,
                      std::int32_t bytes, bool fast) {
  Mixer* mixer = player.mixer();
  if (mixer == nullptr) return;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(bytes));
  PullStream stream(*mixer, format);
  for (int i = 0; i < fills; ++i) {
    // A tick interval of 0 has stopped the song's clock; it stays stopped.
    if (fast && player.context().tickInterval > 0) {
      mixer->SetTimer1Interval(1);
      mixer->SetTimer2Interval(std::min(player.context().tickInterval, kFastTickInterval));
    }
    stream.pull(buffer.data(), bytes);
  }
}

}  // namespace qvb::fuzz
