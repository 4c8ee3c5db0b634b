#include "lsp/item_frames.h"

#include <algorithm>
#include <vector>

#include "song/qvb_player.h"
#include "sound/mixer.h"
#include "sound/pull_stream.h"

namespace qvb::lsp {
namespace {

class FirstReadings final : public SequencerObserver {
 public:
  FirstReadings(int channels, std::map<ItemKey, SequencerEvent>& found) : done_(static_cast<std::size_t>(channels)), found_(found) {}
  void onSequencerEvent(const SequencerEvent& event) override {
    const auto channel = static_cast<std::size_t>(event.channel);
    if (channel >= done_.size() || done_[channel]) return;
    if (event.kind == SequencerEventKind::ChannelEnd || event.kind == SequencerEventKind::JumpToMark) {
      done_[channel] = true;
      ++doneCount_;
    } else if (event.kind == SequencerEventKind::NoteOn || event.kind == SequencerEventKind::Rest) {
      found_.try_emplace(ItemKey{event.channel, event.offset}, event);
    }
  }
  void onTimerDone(SequencerTimer, std::int64_t) override { ++callbacks_; }
  bool allDone() const { return doneCount_ == done_.size(); }
  std::int64_t callbacks() const { return callbacks_; }

 private:
  std::vector<bool> done_;
  std::size_t doneCount_ = 0;
  std::int64_t callbacks_ = 0;
  std::map<ItemKey, SequencerEvent>& found_;
};

// Calls take(place, event) for every item of the source map the song reads.
void eachHeardItem(const LoadedSong& song, const std::map<ItemKey, SequencerEvent>& frames, auto take) {
  for (int c = 0; c < song.map.channelCount(); ++c)
    for (const SourcePlace& p : song.map.places(c)) {
      const auto found = frames.find(ItemKey{c, p.offset});
      if (found == frames.end() || p.line < 1 || p.row < 1) continue;
      take(TextPlace{static_cast<std::size_t>(p.line - 1), static_cast<std::size_t>(p.row - 1)}, found->second);
    }
}

}  // namespace

std::optional<SequencerEvent> firstItemFrom(const LoadedSong& song, const std::map<ItemKey, SequencerEvent>& frames,
                                           TextPlace at) {
  std::optional<std::pair<TextPlace, SequencerEvent>> best;
  eachHeardItem(song, frames, [&](TextPlace place, const SequencerEvent& event) {
    if (place < at) return;
    if (!best || place < best->first || (place == best->first && event.frame < best->second.frame))
      best = std::pair{place, event};
  });
  if (!best) return std::nullopt;
  return best->second;
}

std::optional<std::pair<std::int64_t, std::int64_t>> itemsSpan(const LoadedSong& song,
                                                               const std::map<ItemKey, SequencerEvent>& frames,
                                                               TextPlace from, TextPlace to) {
  std::optional<std::pair<std::int64_t, std::int64_t>> span;
  eachHeardItem(song, frames, [&](TextPlace place, const SequencerEvent& event) {
    if (place < from || !(place < to)) return;
    const std::int64_t end = event.frame + itemFrameCount(event);
    if (!span) span = std::pair{event.frame, end};
    span->first = std::min(span->first, event.frame);
    span->second = std::max(span->second, end);
  });
  return span;
}

std::map<ItemKey, SequencerEvent> itemFrames(const LoadedSong& song, std::int64_t maxCallbacks) {
  std::map<ItemKey, SequencerEvent> found;
  if (!song.ok()) return found;
  QvbPlayer player(song.image.data(), song.image.size());
  if (player.getStatus() < PLAYER_READY) return found;
  FirstReadings watch(static_cast<int>(song.view.channels.size()), found);
  player.setObserver(&watch);
  player.start();
  if (Mixer* mixer = player.mixer()) {
    mixer->SetRendering(false);
    PullStream stream(*mixer);
    while (!watch.allDone() && watch.callbacks() < maxCallbacks && player.context().tickInterval > 0)
      stream.skipFrames(1 << 14);
  }
  player.setObserver(nullptr);
  return found;
}

}  // namespace qvb::lsp
