// Follows a song through the sequencer's events to find, per channel, the
// frames at which it passes its loop mark, first jumps back to it, finishes,
// and is done (finished, or jumped back the requested number of times), and
// from them the frame at which every channel is done: where a render ends.
#pragma once

#include <cstdint>
#include <vector>

#include "song/sequencer_events.h"

namespace qvb {

// Frames at which one channel's events happened; -1 = not (yet) seen.
struct ChannelEvents {
  std::int64_t markFrame = -1;       // the loop mark was first passed
  std::int64_t firstJumpFrame = -1;  // the first jump back to the mark
  std::int64_t finishFrame = -1;     // the channel finished (silent from here on)
  std::int64_t doneFrame = -1;       // finished, or jumped back the requested number of times
};

class LoopPoints : public SequencerObserver {
 public:
  // loops: how many jumps back to its mark make a looping channel done (at
  // most 0: passing the mark does).
  LoopPoints(int channelCount, int loops);

  void onSequencerEvent(const SequencerEvent& event) override;

  // The events heard up to the given frame (included), and where every
  // channel was done by then (-1: not yet; 0 for a song without channels).
  std::vector<ChannelEvents> channelsUpTo(std::int64_t frame) const;
  std::int64_t endFrameUpTo(std::int64_t frame) const;
  // Whether every channel had finished (not merely looped) at that frame.
  bool finishedAt(std::int64_t frame) const;

 private:
  struct Channel {
    ChannelEvents seen;
    int jumps = 0;
  };
  std::vector<Channel> channels_;
  int loops_ = 0;
};

}  // namespace qvb
