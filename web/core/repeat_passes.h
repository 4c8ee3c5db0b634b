// The passes of a song's /: :/ loops over time, as the page's roll shows
// them: each pass a span of frames on its channel, with its number and the
// loop's count. The compiled song keeps no trace of which pass is playing,
// so they are found by watching a render's events: a note or rest inside a
// loop's body that reads at or before the one read last began a new pass of
// the innermost loop, around both, that still has passes to play.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "song/sequencer_events.h"

namespace qvb::web {

// One pass, as the page reads it: six 32-bit values. depth is how many
// loops hold this one (0 for the outermost).
struct RepeatPass {
  std::int32_t channel, from, to, pass, count, depth;
};
static_assert(sizeof(RepeatPass) == 24);

class RepeatPasses final : public SequencerObserver {
 public:
  // blocks: each channel's track block, as the image holds them; at most
  // `limit` passes are kept.
  RepeatPasses(std::span<const std::span<const std::uint8_t>> blocks, std::size_t limit);

  void onSequencerEvent(const SequencerEvent& event) override;
  // Ends the passes still open at the song's end.
  void finish(std::int64_t endFrame);

  const std::vector<RepeatPass>& passes() const { return passes_; }
  bool truncated() const { return truncated_; }

 private:
  struct Loop {
    std::int32_t bodyStart = 0, bodyEnd = 0, count = 1, depth = 0;
    int parent = -1;        // the loop around this one
    std::int32_t pass = 0;  // 0 while no pass is open
    std::int64_t from = 0;
  };
  struct Channel {
    std::vector<Loop> loops;  // by where their bodies begin: outer before inner
    std::vector<int> open;    // the loops with a pass open, inner first (closed outer first)
    std::int32_t last = -1;   // the offset of the note or rest read last; -1 after a jump or none
  };

  static std::vector<Loop> loopsOf(std::span<const std::uint8_t> block);
  // The loops whose bodies hold the offset, inner first, into `around_`.
  void findAround(const Channel& ch, std::int32_t offset);
  void step(int channel, std::int64_t frame, std::int32_t offset);
  void close(int channel, Loop& loop, std::int64_t frame);
  void closeAll(int channel, std::int64_t frame);

  std::vector<Channel> channels_;
  std::vector<int> around_;
  std::vector<RepeatPass> passes_;
  std::size_t limit_;
  bool truncated_ = false;
};

}  // namespace qvb::web
