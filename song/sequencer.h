// The sequencer: the two timer callbacks that step every channel of a song.
// tick reads the next items of a channel when its wait runs out; effectFrame
// runs the release, sweep and vibrato of every channel once per effect frame.
// Both run inside the Mixer's fill and touch only the DriverContext.
#pragma once

#include "song/track.h"

namespace qvb {

// Items a channel may read in one tick. A well-formed song reads a handful:
// repeats of bodies that take no time end after the pass that shows every
// further pass would repeat it. A channel that still reaches this many items
// without a note or rest that takes time (bodies that never settle, or breaks
// in many nested levels) finishes instead of stalling the fill.
inline constexpr int kMaxItemsPerTick = 65536;

void tick(DriverContext& context);
void effectFrame(DriverContext& context);

// Adapters with the Mixer's TimerCallback shape; the context is a DriverContext.
void tickCallback(void* context);
void effectFrameCallback(void* context);

}  // namespace qvb
