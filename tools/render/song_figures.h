// A song's length, intro and loop, worked out once from what a render's
// events said: the figures every host shows (qvbrender's report, qvbplay's
// display, the page's seek bar).
#pragma once

#include <cstdint>
#include <vector>

#include "render/render_session.h"

namespace qvb {

struct SongFigures {
  bool known = false;          // worked out from a finished render
  std::int64_t endFrame = -1;  // finished, or looped the wanted number of times; -1 = not reached
  bool finishes = false;       // the song ends in silence instead of looping
  // Where the song starts to repeat: the last channel's loop mark, or when a
  // channel without a loop plays on past it, the first start of the shared
  // loop after that channel finished; -1 = no channel loops.
  std::int64_t introFrames = -1;
  // The loop every looping channel shares; -1 when one has not come back to
  // its mark yet, or when their loops differ.
  std::int64_t loopFrames = -1;
  bool loopReached = false;  // every looping channel came back to its mark
  // Each channel's loop in frames: -1 for a channel without a mark or one
  // that has not come back to it.
  std::vector<std::int64_t> channelLoops;
};

SongFigures songFigures(const RenderResult& result);

}  // namespace qvb
