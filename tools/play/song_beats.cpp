#include "play/song_beats.h"

#include <algorithm>

namespace qvb {
namespace {

// The Mixer's timers count two values a frame, and a tick comes every
// 4 * interval values: every 2 * interval frames. The first countdown is the
// interval itself, half a period, so every tick falls on a whole frame.
constexpr std::int64_t kFramesPerInterval = 2;

}  // namespace

SongBeats::SongBeats(std::int32_t firstInterval) { steps_.push_back({firstInterval / 2, 0, firstInterval}); }

// The event comes at the tick that read the change, stamped with its frame.
void SongBeats::onSequencerEvent(const SequencerEvent& event) {
  if (event.kind != SequencerEventKind::TempoChange) return;
  Step next = steps_.back();
  next.tick = tickAt(event.frame);
  next.frame = std::max(event.frame, next.frame);
  next.interval = event.interval;
  if (next.tick == steps_.back().tick) steps_.back() = next;  // the same tick: the last change read counts
  else steps_.push_back(next);
}

std::int64_t SongBeats::tickAt(std::int64_t frame) const {
  // The last step begun by the frame (the first one stands for the start).
  auto after = std::upper_bound(steps_.begin() + 1, steps_.end(), frame,
                                [](std::int64_t f, const Step& s) { return f < s.frame; });
  const Step& step = *(after - 1);
  const std::int64_t period = kFramesPerInterval * step.interval;
  if (period <= 0 || frame < step.frame) return step.tick;
  return step.tick + (frame - step.frame) / period;
}

std::int64_t SongBeats::frameOf(std::int64_t tick) const {
  if (tick <= 0) return tick == 0 ? 0 : -1;
  // The last step begun by the tick.
  auto after = std::upper_bound(steps_.begin() + 1, steps_.end(), tick,
                                [](std::int64_t t, const Step& s) { return t < s.tick; });
  const Step& step = *(after - 1);
  const std::int64_t period = kFramesPerInterval * step.interval;
  if (tick == step.tick) return step.frame;
  return period > 0 ? step.frame + (tick - step.tick) * period : -1;
}

std::string barBeatText(std::int64_t tick) {
  if (tick < 0) return "-";
  return std::to_string(tick / kTicksPerBar + 1) + ":" + std::to_string(tick % kTicksPerBar / kTicksPerBeat + 1);
}

}  // namespace qvb
