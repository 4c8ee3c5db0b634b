#include "play/channel_activity.h"

#include <algorithm>

#include "song/track.h"
#include "sound/voice.h"

namespace qvb {
namespace {

constexpr int kValueBits = 20;
constexpr std::uint64_t kValueMask = (std::uint64_t{1} << kValueBits) - 1;
constexpr std::uint32_t kSilent = 0;

// A sounding note: its number plus one, and its level.
std::uint32_t soundValue(int note, int level) {
  return static_cast<std::uint32_t>(((note + 1) & 0xFF) << 8 | (level & 0xFF));
}

}  // namespace

ChannelActivity::ChannelActivity(const DriverContext& context, int channelCount)
    : context_(context),
      channelCount_(std::max(channelCount, 0)),
      channels_(std::make_unique<Track[]>(static_cast<std::size_t>(channelCount_))) {}

void ChannelActivity::record(Track& track, std::int64_t frame, std::uint32_t value, std::int32_t offset) {
  const std::uint32_t n = track.count.load(std::memory_order_relaxed);
  const std::uint64_t word = static_cast<std::uint64_t>(frame + 1) << kValueBits | (value & kValueMask);
  track.records[n % kKept].store(word, std::memory_order_relaxed);
  track.offsets[n % kKept].store(offset, std::memory_order_relaxed);
  track.count.store(n + 1, std::memory_order_release);
}

// The newest record at or before the frame. When every record kept is later,
// the oldest one if older ones were dropped, else none (the song's start).
bool ChannelActivity::indexAt(const Track& track, std::int64_t frame, std::uint32_t& index) {
  const std::uint32_t n = track.count.load(std::memory_order_acquire);
  const std::uint32_t kept = std::min<std::uint32_t>(n, kKept);
  for (std::uint32_t back = 1; back <= kept; ++back) {
    index = (n - back) % kKept;
    const std::uint64_t word = track.records[index].load(std::memory_order_relaxed);
    if (static_cast<std::int64_t>(word >> kValueBits) - 1 <= frame) return true;
  }
  return n > kKept;
}

bool ChannelActivity::valueAt(const Track& track, std::int64_t frame, std::uint32_t& value) {
  std::uint32_t index = 0;
  if (!indexAt(track, frame, index)) return false;
  value = static_cast<std::uint32_t>(track.records[index].load(std::memory_order_relaxed) & kValueMask);
  return true;
}

std::int32_t ChannelActivity::offsetAt(int channel, std::int64_t frame) const {
  std::uint32_t index = 0;
  if (channel < 0 || channel >= channelCount_ || !indexAt(channels_[static_cast<std::size_t>(channel)], frame, index)) {
    return -1;
  }
  return channels_[static_cast<std::size_t>(channel)].offsets[index].load(std::memory_order_relaxed);
}

void ChannelActivity::onSequencerEvent(const SequencerEvent& event) {
  if (event.kind == SequencerEventKind::TempoChange) {
    record(tempo_, event.frame, static_cast<std::uint32_t>(std::clamp(event.interval, 0, 0xFFFF)));
    return;
  }
  if (event.channel < 0 || event.channel >= channelCount_) return;
  Track& track = channels_[static_cast<std::size_t>(event.channel)];
  if (event.kind == SequencerEventKind::NoteOn) {
    // On the output's thread, between two renders: the voice is the sequencer's to read.
    const Voice* voice = context_.voices != nullptr ? context_.voices[event.channel] : nullptr;
    if (voice == nullptr) return;
    const int level = std::clamp(std::max(voice->volumeLeft, voice->volumeRight), 0, 255);
    record(track, event.frame, level > 0 ? soundValue(event.note, level) : kSilent, event.offset);
    queue({event.frame, event.channel, event.note, event.offset});
  } else if (event.kind == SequencerEventKind::Rest || event.kind == SequencerEventKind::ChannelEnd) {
    record(track, event.frame, kSilent, event.offset);
    queue({event.frame, event.channel, -1, event.offset});
  }
}

// One writer (the output's thread) and one reader: a slot is the writer's
// until written_ counts it, and the reader's until taken_ does.
void ChannelActivity::queue(const Heard& heard) {
  const std::uint64_t n = written_.load(std::memory_order_relaxed);
  if (n - taken_.load(std::memory_order_acquire) >= kQueued) {
    lost_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  heard_[n % kQueued] = heard;
  written_.store(n + 1, std::memory_order_release);
}

std::vector<ChannelActivity::Heard> ChannelActivity::takeHeard(std::int64_t frame) {
  std::vector<Heard> taken;
  const std::uint64_t end = written_.load(std::memory_order_acquire);
  std::uint64_t n = taken_.load(std::memory_order_relaxed);
  for (; n < end && heard_[n % kQueued].frame <= frame; ++n) taken.push_back(heard_[n % kQueued]);
  taken_.store(n, std::memory_order_release);
  return taken;
}

ChannelSound ChannelActivity::soundAt(int channel, std::int64_t frame) const {
  std::uint32_t value = kSilent;
  if (channel < 0 || channel >= channelCount_ ||
      !valueAt(channels_[static_cast<std::size_t>(channel)], frame, value) || value == kSilent) {
    return {};
  }
  return {static_cast<int>(value >> 8) - 1, static_cast<int>(value & 0xFF)};
}

std::int32_t ChannelActivity::tickIntervalAt(std::int64_t frame) const {
  std::uint32_t value = 0;
  return valueAt(tempo_, frame, value) ? static_cast<std::int32_t>(value) : kStartTickInterval;
}

}  // namespace qvb
