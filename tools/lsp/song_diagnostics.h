// What the editor underlines in a song: the compile errors (the first and
// those after it), each over the faulty command, named by its code
// (ERR_VOLUME) and worded as our programs word it; the warnings our programs
// print (source "qvbp"); and for a song the Game Boy can play, what it plays
// there only the closest way (source "qvbgb"). An empty list for a clean song.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lsp/song_document.h"

namespace qvb::lsp {

enum class Severity { Error = 1, Warning = 2 };

struct SongDiagnostic {
  std::size_t line = 0;                // 0-based
  std::size_t startByte = 0, endByte = 0;  // byte columns of the line
  Severity severity = Severity::Error;
  std::string code;     // the error's name; empty for a warning
  std::string source;   // "qvbp" or "qvbgb"
  std::string message;
};

std::vector<SongDiagnostic> songDiagnostics(const SongDocument& document);

}  // namespace qvb::lsp
