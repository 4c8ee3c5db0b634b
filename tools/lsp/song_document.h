// One song open in the editor: its text (as the editor last sent it), its
// lines for positions, its tokens' classes and the places it names, and the
// song loaded from it (image, source map and diagnosis), made again on every
// change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loader/song_loader.h"
#include "lsp/song_classes.h"
#include "lsp/song_places.h"
#include "lsp/text_lines.h"

namespace qvb::lsp {

class SongDocument {
 public:
  SongDocument(std::string text, std::int64_t version);
  SongDocument(const SongDocument&) = delete;
  SongDocument& operator=(const SongDocument&) = delete;

  const std::string& text() const { return text_; }
  std::int64_t version() const { return version_; }
  const TextLines& lines() const { return lines_; }
  const std::vector<ClassedToken>& tokens() const { return tokens_; }
  const SongPlaces& places() const { return places_; }
  const LoadedSong& song() const { return song_; }

 private:
  std::string text_;
  std::int64_t version_;
  TextLines lines_;
  std::vector<ClassedToken> tokens_;
  SongPlaces places_;
  LoadedSong song_;
};

}  // namespace qvb::lsp
