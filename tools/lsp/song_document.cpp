#include "lsp/song_document.h"

#include <span>
#include <utility>

namespace qvb::lsp {

SongDocument::SongDocument(std::string text, std::int64_t version)
    : text_(std::move(text)),
      version_(version),
      lines_(text_),
      tokens_(classifySong(lines_)),
      places_(tokens_, lines_),
      song_(loadSong(std::span(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size()))) {}

}  // namespace qvb::lsp
