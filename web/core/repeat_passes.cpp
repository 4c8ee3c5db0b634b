#include "web/core/repeat_passes.h"

#include <algorithm>

#include "song/track_commands.h"

namespace qvb::web {
namespace {

bool holds(std::int32_t start, std::int32_t end, std::int32_t offset) { return offset >= start && offset < end; }

// The loops of one block, each from the item after its REPEAT_START to its
// REPEAT_END, read as the compiler wrote them: one item after another.
template <typename Loop>
std::vector<Loop> loopsOf(std::span<const std::uint8_t> block) {
  std::vector<Loop> loops;
  std::vector<Loop> open;
  const auto length = static_cast<std::int32_t>(block.size());
  for (std::int32_t pos = 0; pos < length;) {
    const std::int32_t at = pos;
    const TrackItem item = decodeItem(block.data(), length, pos);
    if (item.opcode == REPEAT_START) {
      Loop loop;
      loop.bodyStart = pos;
      loop.count = std::max(1, item.operands[1]);
      loop.depth = static_cast<std::int32_t>(open.size());
      open.push_back(loop);
    } else if (item.opcode == REPEAT_END && !open.empty()) {
      open.back().bodyEnd = at;
      loops.push_back(open.back());
      open.pop_back();
    }
  }
  std::sort(loops.begin(), loops.end(), [](const Loop& a, const Loop& b) { return a.bodyStart < b.bodyStart; });
  return loops;
}

}  // namespace

RepeatPasses::RepeatPasses(std::span<const std::span<const std::uint8_t>> blocks, std::size_t limit)
    : limit_(limit) {
  for (const auto block : blocks) channels_.push_back({loopsOf<Loop>(block), -1});
}

void RepeatPasses::onSequencerEvent(const SequencerEvent& event) {
  if (event.channel < 0 || event.channel >= static_cast<int>(channels_.size())) return;
  switch (event.kind) {
    case SequencerEventKind::NoteOn:
    case SequencerEventKind::Rest:
      if (event.offset >= 0) step(event.channel, event.frame, event.offset);
      break;
    case SequencerEventKind::JumpToMark:
    case SequencerEventKind::ChannelEnd:
      closeAll(event.channel, event.frame);
      break;
    default:
      break;
  }
}

// A step back within a loop's body is that loop's jump when it has passes
// left; the loops inside it start again from their first pass. With none to
// blame (a pass cut short by the sequencer), every loop around starts again.
void RepeatPasses::step(int channel, std::int64_t frame, std::int32_t offset) {
  Channel& ch = channels_[static_cast<std::size_t>(channel)];
  const bool back = ch.last >= 0 && offset <= ch.last;
  const Loop* jumper = nullptr;
  if (back) {
    for (auto loop = ch.loops.rbegin(); loop != ch.loops.rend(); ++loop) {
      const bool around = holds(loop->bodyStart, loop->bodyEnd, offset) && holds(loop->bodyStart, loop->bodyEnd, ch.last);
      if (around && loop->pass > 0 && loop->pass < loop->count) {
        jumper = &*loop;
        break;
      }
    }
  }
  for (Loop& loop : ch.loops) {
    if (!holds(loop.bodyStart, loop.bodyEnd, offset)) {
      if (loop.pass > 0) close(channel, loop, frame);
      continue;
    }
    if (loop.pass > 0 && (!back || (jumper != nullptr && loop.depth < jumper->depth))) continue;
    const std::int32_t next = &loop == jumper ? loop.pass + 1 : 1;
    if (loop.pass > 0) close(channel, loop, frame);
    loop.pass = next;
    loop.from = frame;
  }
  ch.last = offset;
}

void RepeatPasses::close(int channel, Loop& loop, std::int64_t frame) {
  if (frame > loop.from) {
    if (passes_.size() < limit_) {
      passes_.push_back({channel, static_cast<std::int32_t>(loop.from), static_cast<std::int32_t>(frame), loop.pass,
                         loop.count, loop.depth});
    } else {
      truncated_ = true;
    }
  }
  loop.pass = 0;
}

void RepeatPasses::closeAll(int channel, std::int64_t frame) {
  Channel& ch = channels_[static_cast<std::size_t>(channel)];
  for (Loop& loop : ch.loops)
    if (loop.pass > 0) close(channel, loop, frame);
  ch.last = -1;
}

void RepeatPasses::finish(std::int64_t endFrame) {
  for (std::size_t channel = 0; channel < channels_.size(); ++channel) closeAll(static_cast<int>(channel), endFrame);
}

}  // namespace qvb::web
