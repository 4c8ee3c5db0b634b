// What the editor shows over a place in a song: over a note, its name,
// octave, pitch in Hz (the player's own pitch table), its length in ticks
// and in seconds at the tempo it plays at, and its channel, all as the song
// plays it (the sequencer is run until it reads that note); over a rest its
// length; over a command or directive the guide's help for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "lsp/song_document.h"

namespace qvb::lsp {

struct Hover {
  std::string markdown;
  std::size_t line = 0, startByte = 0, endByte = 0;  // the item hovered
};

// Callbacks of the sequencer (ticks and effect frames) a hover may run
// through looking for a note: some two hours of song at the fastest tempo.
inline constexpr std::int64_t kMaxHoverCallbacks = 4'000'000;

// The hover at a 0-based line and byte column; nothing over blanks,
// comments and what has no help.
std::optional<Hover> songHover(const SongDocument& document, std::size_t line, std::size_t column,
                               std::int64_t maxCallbacks = kMaxHoverCallbacks);

}  // namespace qvb::lsp
