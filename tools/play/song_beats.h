// Bars and beats of a song: the tempo changes a render heard, turned into the
// tick that sounds at any frame (192 ticks a whole note, a beat is a quarter
// note of 48). Bars count ticks, so a tempo change moves the seconds a bar
// lasts, never where it begins.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "song/sequencer_events.h"
#include "song/track.h"

namespace qvb {

inline constexpr int kTicksPerBeat = 48;
inline constexpr int kTicksPerBar = 192;

class SongBeats final : public SequencerObserver {
 public:
  // firstInterval: the tick interval a song starts with.
  explicit SongBeats(std::int32_t firstInterval = kStartTickInterval);

  // Takes the tempo changes, in the order the sequencer reads them.
  void onSequencerEvent(const SequencerEvent& event) override;

  // The tick sounding at the frame (0 before the first); after a tempo of 0
  // (no more ticks) the one it stopped at.
  std::int64_t tickAt(std::int64_t frame) const;
  // The first frame that sounds the tick (0 for tick 0), as far as the
  // tempo changes taken so far tell; -1 for a tick that never comes (after
  // a tempo of 0) or a negative one.
  std::int64_t frameOf(std::int64_t tick) const;

 private:
  // From the tick `tick` on, which falls at `frame`, ticks come every
  // 2 * interval frames.
  struct Step {
    std::int64_t frame = 0;
    std::int64_t tick = 0;
    std::int32_t interval = 0;
  };
  std::vector<Step> steps_;
};

// "3:2", bar 3, beat 2 (both from 1); "-" for a negative tick.
std::string barBeatText(std::int64_t tick);

}  // namespace qvb
