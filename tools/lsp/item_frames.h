// When a song's notes and rests are first heard: one silent run of the
// sequencer over the song's first pass that keeps, for every item it reads
// (a channel and the item's offset in its block), the event of its first
// reading, with the frame from which it sounds and its length. Playing from
// a note or a selection starts, and loops, at these frames.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "loader/song_loader.h"
#include "song/sequencer_events.h"

namespace qvb::lsp {

using ItemKey = std::pair<int, std::int32_t>;  // channel, offset in its block

// Until every channel has ended or jumped back to its mark, or the
// sequencer's callbacks reach the bound; empty for a song that did not load.
std::map<ItemKey, SequencerEvent> itemFrames(const LoadedSong& song, std::int64_t maxCallbacks);

// The frames an item sounds: 2 * interval frames a tick.
inline std::int64_t itemFrameCount(const SequencerEvent& event) {
  return 2 * static_cast<std::int64_t>(event.ticks) * event.interval;
}

// A place in the text: a 0-based line and byte column.
struct TextPlace {
  std::size_t line = 0, column = 0;
  auto operator<=>(const TextPlace&) const = default;
};

// The first note or rest written at or after the place (in the text's
// order; of an item's copies, the first heard), when the song reads it.
std::optional<SequencerEvent> firstItemFrom(const LoadedSong& song, const std::map<ItemKey, SequencerEvent>& frames,
                                           TextPlace at);

// From the first frame heard of the notes and rests written in [from, to) to
// the last frame of the last one heard; nothing when there are none.
std::optional<std::pair<std::int64_t, std::int64_t>> itemsSpan(const LoadedSong& song,
                                                               const std::map<ItemKey, SequencerEvent>& frames,
                                                               TextPlace from, TextPlace to);

}  // namespace qvb::lsp
