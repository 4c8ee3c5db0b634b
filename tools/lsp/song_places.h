// The places a song names and where it uses them, for going to a
// definition and finding its references. Today these are the waves: `#WAV n`
// in the header defines slot n, and `@n` in a channel uses it (the timbre
// that picks slot n when the voice type plays a wave). A place has a kind and
// a number, so that other kinds of named things can join the waves.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "lsp/song_classes.h"

namespace qvb::lsp {

enum class PlaceKind { Wave };

struct SongPlace {
  PlaceKind kind = PlaceKind::Wave;
  long number = 0;
  std::size_t line = 0, start = 0, end = 0;  // "#WAV n" or "@n": a 0-based line and its bytes
  bool operator==(const SongPlace&) const = default;
};

class SongPlaces {
 public:
  // From the song's tokens and its lines (for the numbers' text).
  SongPlaces(const std::vector<ClassedToken>& tokens, const TextLines& lines);

  const std::vector<SongPlace>& definitions() const { return definitions_; }
  const std::vector<SongPlace>& uses() const { return uses_; }

  // The definition or use that covers the byte column of the 0-based line.
  std::optional<SongPlace> at(std::size_t line, std::size_t column) const;
  // The definitions and the uses of the place's kind and number, in order.
  std::vector<SongPlace> definitionsOf(const SongPlace& place) const;
  std::vector<SongPlace> usesOf(const SongPlace& place) const;

 private:
  std::vector<SongPlace> definitions_, uses_;
};

}  // namespace qvb::lsp
