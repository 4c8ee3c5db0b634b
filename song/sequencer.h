// The sequencer: the two timer callbacks that step every channel of a song.
// tick reads the next items of a channel when its wait runs out; effectFrame
// runs the release, sweep and vibrato of every channel once per effect frame.
// Both run inside the Mixer's fill and touch only the DriverContext.
#pragma once

#include "song/track.h"

namespace qvb {

void tick(DriverContext& context);
void effectFrame(DriverContext& context);

// Adapters with the Mixer's TimerCallback shape; the context is a DriverContext.
void tickCallback(void* context);
void effectFrameCallback(void* context);

}  // namespace qvb
