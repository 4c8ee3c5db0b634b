// The Game Boy sound driver as linked at build time (gameboy/driver/*.s):
// the ROM image from address 0 up to where the song data begin, the entry
// points of the ROM and GBS shells, and the driver's source for game kits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gameboy/gb_stream_format.h"  // kTimerControl

namespace qvb::gb {

extern const std::uint8_t kDriverRom[];  // address 0 .. kSongDataAddress - 1
extern const std::size_t kDriverRomSize;
extern const std::uint16_t kSongDataAddress;
extern const std::uint16_t kGbsInit;        // the song in timer mode (GBS TAC bit 2 set)
extern const std::uint16_t kGbsInitVblank;  // the song called at VBlank (TAC bit 2 clear)
extern const std::uint16_t kGbsPlay;
extern const std::uint16_t kIdleCounter;  // 24-bit count, 24 cycles a count
extern const std::uint16_t kDriverInit;
extern const std::uint16_t kDriverInitVblank;
extern const std::uint16_t kDriverUpdate;
extern const std::uint16_t kDriverStop;
extern const std::uint16_t kDriverMute;
extern const std::uint16_t kRomBankVariable;  // RAM: the game's ROM bank, restored after a switch
extern const std::uint16_t kDriverCodeStart;
extern const std::uint16_t kDriverCodeSize;  // the driver alone, without the ROM and GBS shells
extern const std::uint16_t kDriverRamStart;  // all RAM of driver and shell (the shell's: 3 bytes)
extern const std::uint16_t kDriverRamSize;
// The driver's source files, by name (the include file first).
extern const std::size_t kDriverSourceCount;
extern const char* const kDriverSourceNames[];
extern const char* const kDriverSources[];

// Where the GBS image is loaded: the driver's code and everything after it.
inline constexpr std::uint16_t kGbsLoadAddress = 0x0400;
// A GBS header's timer: 4096 Hz, one slot until qvb_init sets its own
// intervals (TMA is rewritten at every call).
inline constexpr std::uint8_t kTimerModulo = 0xFC;

}  // namespace qvb::gb
