// One song open in the editor: its text (as the editor last sent it), its
// lines for positions, and the song loaded from it (image, source map and
// diagnosis), made again on every change.
#pragma once

#include <cstdint>
#include <string>

#include "loader/song_loader.h"
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
  const LoadedSong& song() const { return song_; }

 private:
  std::string text_;
  std::int64_t version_;
  TextLines lines_;
  LoadedSong song_;
};

}  // namespace qvb::lsp
