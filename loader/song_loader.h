// One song loader for every host: file bytes in, either a QVB image ready for
// a player (compiled first when the bytes are source, with the credits our
// tools read) or a diagnosis saying what is wrong and where, in terms a user
// can act on.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/mml_compiler.h"
#include "compiler/source_map.h"
#include "song/qvb_format.h"
#include "song/qvb_player.h"

namespace qvb {

enum class SongProblem {
  None,
  Compile,        // source that does not compile: error, name, meaning, channel
  DamagedImage,   // QVB magic, but a part lies past the end: fault, faultChannel
  NewerImage,     // QVB magic, a version newer than the player reads
  NotASong,       // neither an image nor anything that compiles to one
  NoMemory,
};

struct SongDiagnosis {
  SongProblem problem = SongProblem::None;
  // Compile: the code, and the line and row where a person finds the fault
  // (the faulty command, in the text's own columns; for a loop left open,
  // openLine and openRow where it opened, in the same columns).
  CompileError error;
  char channel = 0;              // Compile: 'A'..'Z' when the error lies in a channel
  // Compile: more about the fault ("the loop opened at 7:3 is not closed";
  // outside a channel it stands for the meaning: "#CHANNEL 27: 26 channels at most").
  std::string context;
  std::string_view name;         // Compile: the code's name and meaning
  std::string_view meaning;
  PlayerFault fault = PlayerFault::None;  // DamagedImage
  int faultChannel = -1;         // DamagedImage with a channel block: 0-based
};

// Move it, never copy it: the view points into the image's bytes, which a
// move keeps where they are.
struct LoadedSong {
  std::vector<std::uint8_t> image;  // the QVB bytes; empty when refused
  ImageView view;                   // of image: its title, channels and waves
  SourceMap map;                    // for a compiled source: each item's line and row; else empty
  // A source's #COMPOSER and #COPYRIGHT (compiler/song_credits.h), which
  // the image has no room for; empty for an image.
  std::string composer, copyright;
  SongDiagnosis diagnosis;
  // Compile: the errors found after the first one (diagnosis), by compiling
  // the text again with each fault found so far blanked out; in the text's
  // order, at most kMaxLaterErrors. The programs of the song language itself
  // show the first only; ours show them all.
  std::vector<SongDiagnosis> laterErrors;
  bool ok() const { return diagnosis.problem == SongProblem::None; }

  LoadedSong() = default;
  LoadedSong(LoadedSong&&) = default;
  LoadedSong& operator=(LoadedSong&&) = default;
  LoadedSong(const LoadedSong&) = delete;
  LoadedSong& operator=(const LoadedSong&) = delete;
};

inline constexpr std::size_t kMaxLaterErrors = 19;

// Never reads outside bytes.
LoadedSong loadSong(std::span<const std::uint8_t> bytes);

// One line for a refused song read from file, without a newline:
// "FILE:LINE:ROW: error CODE NAME: meaning" for a compile error,
// "FILE: damaged QVB image: PART runs past the end" for a damaged image.
std::string describeProblem(const SongDiagnosis& diagnosis, const std::string& file);
// The diagnosis and every later error, each as describeProblem words it.
std::vector<std::string> describeProblems(const LoadedSong& song, const std::string& file);

}  // namespace qvb
