// The song loader as the tools use it: any bytes, loaded (compiled when they
// are source); a refusal worded as the tools print it, with the source line
// and caret, and every error after the first; a song's warnings. Nothing may crash or read out of bounds.
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
    qvb::problemLines(song, "song.qvm", bytes);
    // The later errors: a bounded list of compile errors in the text's order.
    if (song.laterErrors.size() > qvb::kMaxLaterErrors) __builtin_trap();
    for (std::size_t i = 0; i < song.laterErrors.size(); ++i) {
      const qvb::CompileError& e = song.laterErrors[i].error;
      if (song.laterErrors[i].problem != qvb::SongProblem::Compile || e.type >= 0) __builtin_trap();
      if (i > 0 && e.line < song.laterErrors[i - 1].error.line) __builtin_trap();
    }
    return 0;
  }
  qvb::songWarnings(bytes);
  return 0;
}
