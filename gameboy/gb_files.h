// The files that carry a song to a Game Boy: a ROM that plays it, a GBS file
// for music players, and the pieces a homebrew game links (the song data as
// assembler text, the driver's source and a README). Each is made whole in
// memory or refused with a reason; nothing here touches the file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gameboy/gb_song.h"

namespace qvb::gb {

inline constexpr std::size_t kRomSize = 32768;  // no bank controller

struct GbFile {
  bool ok = false;
  std::string refusal;
  std::vector<std::uint8_t> bytes;
};

struct TextFile {
  std::string name;
  std::string text;
};

GbFile makeRom(const GbSong& song);
GbFile makeGbs(const GbSong& song);
// song.s (label qvb_song and one named after the title where that is a valid
// name), the driver's source files and a README.
std::vector<TextFile> makeAsmKit(const GbSong& song);

}  // namespace qvb::gb
