// The song file as the player reads it: bytes from disk, compiled when they
// are source, with the warnings or the refusal in lines a user reads. A
// reload that fails leaves the session playing what it had. A reload reads a
// regular file only: a pipe or device put in the song's place is refused at
// once (never waited on), and the watch goes on for the next save.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compiler/source_map.h"
#include "host/file_bytes.h"

namespace qvb {

class PlaySession;

struct SongFile {
  std::optional<std::vector<std::uint8_t>> image;  // none when refused or unreadable
  std::vector<std::string> messages;  // the refusal (with source line and caret), else warnings
  SourceMap map;                      // for a source: where each item came from
  std::vector<std::string> lines;     // for a source: its lines, without their line ends
};

SongFile readSongFile(const std::string& path, InputKinds kinds = InputKinds::Any);

// True when the new version plays on from the place heard; messages as above.
bool reloadSongFile(PlaySession& session, const std::string& path, std::vector<std::string>& messages);

}  // namespace qvb
