// The song loader as the tools use it: any bytes, loaded (compiled when they
// are source); a refusal worded as the tools print it, with the source line
// and caret; a song's warnings. Nothing may crash or read out of bounds.
#include <cstdint>
#include <string>
#include <vector>

#include "compiler/song_warnings.h"
#include "loader/song_loader.h"
#include "play/display.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: overreads are caught
  const qvb::LoadedSong song = qvb::loadSong(bytes);
  if (!song.ok()) {
    const std::string line = qvb::describeProblem(song.diagnosis, "song.qvm");
    if (line.empty()) __builtin_trap();
    qvb::problemLines(song.diagnosis, "song.qvm", bytes);
    return 0;
  }
  qvb::songWarnings(bytes);
  return 0;
}
