// The files that carry a song to a Game Boy: a ROM that plays it, a GBS file
// for music players, and the pieces a game links (the song data as
// assembler text, the driver's source, a C header and a README). Each is
// made whole in memory or refused with a reason; nothing here touches the
// file system. Songs too long for 32 KB go into ROM banks (MBC5, or MBC1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gameboy/gb_song.h"

namespace qvb::gb {

inline constexpr std::size_t kRomSize = 32768;  // without a bank controller
inline constexpr int kMaxBanksMbc5 = 256;       // 4 MB, the low bank register alone
inline constexpr int kMaxBanksMbc1 = 32;        // 512 KB, the 5-bit bank register alone

enum class Cartridge : std::uint8_t { Auto, Mbc1, Mbc5 };

struct GbFile {
  bool ok = false;
  std::string refusal;
  std::vector<std::uint8_t> bytes;
  int banks = 2;  // 16 KB banks the file holds
};

struct TextFile {
  std::string name;
  std::string text;
};

// The ROM: 32 KB when the song fits, otherwise banked (Auto: MBC5).
GbFile makeRom(const GbSong& song, Cartridge cartridge = Cartridge::Auto);
// The GBS file, banked as the ROM is when the song needs it. With `vblank`
// the player calls the driver once a video frame (the driver's VBlank mode)
// instead of on the timer the driver sets.
GbFile makeGbs(const GbSong& song, bool vblank = false);
// `name`.s with the song header as the global label qvb_song_NAME (a name
// made of letters, digits and '_'), the driver's source, qvb.h and a README.
// bank 0: the streams go in _CODE; bank n > 0: in the areas _CODE_n, n+1,
// ... (a bank each, at 0x4000), the game linking each at its bank.
std::vector<TextFile> makeAsmKit(const GbSong& song, const std::string& name, int bank = 0);

// A symbol's part made from a file name: letters, digits and '_' kept,
// anything else '_', a leading digit preceded by '_'.
std::string symbolPart(const std::string& text);

}  // namespace qvb::gb
