#include "web/core/repeat_passes.h"

#include <algorithm>

#include "song/track_commands.h"

namespace qvb::web {
namespace {

bool holds(std::int32_t start, std::int32_t end, std::int32_t offset) { return offset >= start && offset < end; }

}  // namespace

// The loops of one block, each from the item after its REPEAT_START to its
// REPEAT_END, read as the compiler wrote them: one item after another.
std::vector<RepeatPasses::Loop> RepeatPasses::loopsOf(std::span<const std::uint8_t> block) {
  std::vector<Loop> loops;
  std::vector<int> unclosed;
  const auto length = static_cast<std::int32_t>(block.size());
  for (std::int32_t pos = 0; pos < length;) {
    const std::int32_t at = pos;
    const TrackItem item = decodeItem(block.data(), length, pos);
    if (item.opcode == REPEAT_START) {
      Loop loop;
      loop.bodyStart = pos;
      loop.count = std::max(1, item.operands[1]);
      loop.depth = static_cast<std::int32_t>(unclosed.size());
      loop.parent = unclosed.empty() ? -1 : unclosed.back();
      unclosed.push_back(static_cast<int>(loops.size()));
      loops.push_back(loop);
    } else if (item.opcode == REPEAT_END && !unclosed.empty()) {
      loops[static_cast<std::size_t>(unclosed.back())].bodyEnd = at;
      unclosed.pop_back();
    }
  }
  return loops;
}

RepeatPasses::RepeatPasses(std::span<const std::span<const std::uint8_t>> blocks, std::size_t limit)
    : limit_(limit) {
  for (const auto block : blocks) channels_.push_back({loopsOf(block), {}, -1});
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

// Loops nest, so those around an offset are the last one to begin at or
// before it, or the nearest loop around that one which reaches past it, and
// the loops around that.
void RepeatPasses::findAround(const Channel& ch, std::int32_t offset) {
  around_.clear();
  const auto after = std::upper_bound(ch.loops.begin(), ch.loops.end(), offset,
                                      [](std::int32_t at, const Loop& loop) { return at < loop.bodyStart; });
  int i = static_cast<int>(after - ch.loops.begin()) - 1;
  while (i >= 0 && offset >= ch.loops[static_cast<std::size_t>(i)].bodyEnd) i = ch.loops[static_cast<std::size_t>(i)].parent;
  for (; i >= 0; i = ch.loops[static_cast<std::size_t>(i)].parent) around_.push_back(i);
}

// A step back within a loop's body is that loop's jump when it has passes
// left; the loops inside it start again from their first pass. With none to
// blame (a pass cut short by the sequencer), every loop around starts again.
void RepeatPasses::step(int channel, std::int64_t frame, std::int32_t offset) {
  Channel& ch = channels_[static_cast<std::size_t>(channel)];
  findAround(ch, offset);
  for (auto i = ch.open.rbegin(); i != ch.open.rend(); ++i)
    if (std::find(around_.begin(), around_.end(), *i) == around_.end()) close(channel, ch.loops[static_cast<std::size_t>(*i)], frame);
  const bool back = ch.last >= 0 && offset <= ch.last;
  int jumper = -1;
  for (const int i : around_) {
    const Loop& loop = ch.loops[static_cast<std::size_t>(i)];
    if (back && holds(loop.bodyStart, loop.bodyEnd, ch.last) && loop.pass > 0 && loop.pass < loop.count) {
      jumper = i;
      break;
    }
  }
  const std::int32_t jumperDepth = jumper >= 0 ? ch.loops[static_cast<std::size_t>(jumper)].depth : -1;
  for (auto i = around_.rbegin(); i != around_.rend(); ++i) {
    Loop& loop = ch.loops[static_cast<std::size_t>(*i)];
    if (loop.pass > 0 && (!back || (jumper >= 0 && loop.depth < jumperDepth))) continue;
    const std::int32_t next = *i == jumper ? loop.pass + 1 : 1;
    if (loop.pass > 0) close(channel, loop, frame);
    loop.pass = next;
    loop.from = frame;
  }
  ch.open = around_;
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
  for (auto i = ch.open.rbegin(); i != ch.open.rend(); ++i) close(channel, ch.loops[static_cast<std::size_t>(*i)], frame);
  ch.open.clear();
  ch.last = -1;
}

void RepeatPasses::finish(std::int64_t endFrame) {
  for (std::size_t channel = 0; channel < channels_.size(); ++channel) closeAll(static_cast<int>(channel), endFrame);
}

}  // namespace qvb::web
