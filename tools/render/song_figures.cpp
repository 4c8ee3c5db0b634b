#include "render/song_figures.h"

#include <algorithm>

namespace qvb {

SongFigures songFigures(const RenderResult& result) {
  SongFigures f;
  f.known = true;
  f.endFrame = result.endFrame;
  f.finishes = result.finished;
  bool reached = true, same = true;
  std::int64_t first = -1;
  for (const ChannelEvents& e : result.channels) {
    const bool loops = e.markFrame >= 0;
    const std::int64_t loop = loops && e.firstJumpFrame >= 0 ? e.firstJumpFrame - e.markFrame : -1;
    f.channelLoops.push_back(loop);
    if (!loops) continue;
    f.introFrames = std::max(f.introFrames, e.markFrame);
    reached = reached && loop >= 0;
    if (first < 0) first = loop;
    same = same && loop == first;
  }
  f.loopReached = f.introFrames >= 0 && reached;
  f.loopFrames = f.loopReached && same ? first : -1;
  // The song repeats only once the channels without a loop have finished:
  // its loop begins at the first pass of the shared loop that starts there.
  std::int64_t lastFinish = -1;
  for (const ChannelEvents& e : result.channels) {
    if (e.markFrame < 0) lastFinish = std::max(lastFinish, e.finishFrame);
  }
  if (f.loopFrames > 0 && lastFinish > f.introFrames) {
    f.introFrames += (lastFinish - f.introFrames + f.loopFrames - 1) / f.loopFrames * f.loopFrames;
  }
  return f;
}

}  // namespace qvb
