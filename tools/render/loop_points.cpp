#include "render/loop_points.h"

#include <algorithm>

namespace qvb {
namespace {

void firstTime(std::int64_t& field, std::int64_t frame) {
  if (field < 0) field = frame;
}

std::int64_t upTo(std::int64_t field, std::int64_t frame) { return field <= frame ? field : -1; }

}  // namespace

LoopPoints::LoopPoints(int channelCount, int loops)
    : channels_(static_cast<std::size_t>(std::max(channelCount, 0))), loops_(loops) {}

void LoopPoints::onSequencerEvent(const SequencerEvent& event) {
  if (event.channel < 0 || static_cast<std::size_t>(event.channel) >= channels_.size()) return;
  Channel& channel = channels_[static_cast<std::size_t>(event.channel)];
  switch (event.kind) {
    case SequencerEventKind::LoopMark:
      firstTime(channel.seen.markFrame, event.frame);
      if (loops_ <= 0) firstTime(channel.seen.doneFrame, event.frame);
      break;
    case SequencerEventKind::JumpToMark:
      firstTime(channel.seen.firstJumpFrame, event.frame);
      if (++channel.jumps >= loops_) firstTime(channel.seen.doneFrame, event.frame);
      break;
    case SequencerEventKind::ChannelEnd:
      firstTime(channel.seen.finishFrame, event.frame);
      firstTime(channel.seen.doneFrame, event.frame);
      break;
    default:
      break;
  }
}

std::vector<ChannelEvents> LoopPoints::channelsUpTo(std::int64_t frame) const {
  std::vector<ChannelEvents> result;
  result.reserve(channels_.size());
  for (const Channel& channel : channels_) {
    const ChannelEvents& e = channel.seen;
    result.push_back({upTo(e.markFrame, frame), upTo(e.firstJumpFrame, frame),
                      upTo(e.finishFrame, frame), upTo(e.doneFrame, frame)});
  }
  return result;
}

std::int64_t LoopPoints::endFrameUpTo(std::int64_t frame) const {
  std::int64_t end = 0;
  for (const Channel& channel : channels_) {
    const std::int64_t done = upTo(channel.seen.doneFrame, frame);
    if (done < 0) return -1;
    end = std::max(end, done);
  }
  return end;
}

bool LoopPoints::finishedAt(std::int64_t frame) const {
  return std::all_of(channels_.begin(), channels_.end(),
                     [&](const Channel& c) { return upTo(c.seen.finishFrame, frame) >= 0; });
}

}  // namespace qvb
