// The Game Boy sound driver as linked at build time (gameboy/driver/*.s):
// the ROM image from address 0 up to where the song data begin, the entry
// points of the ROM and GBS shells, and the driver's source for game kits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvb::gb {

extern const std::uint8_t kDriverRom[];  // address 0 .. kSongDataAddress - 1
extern const std::size_t kDriverRomSize;
extern const std::uint16_t kSongDataAddress;
extern const std::uint16_t kGbsInit;
extern const std::uint16_t kGbsPlay;
extern const std::uint16_t kIdleCounter;  // 24-bit count, 24 cycles a count
extern const std::uint16_t kDriverInit;
extern const std::uint16_t kDriverUpdate;
extern const std::uint16_t kDriverRamStart;  // all RAM of driver and shell
extern const std::uint16_t kDriverRamSize;
// The driver's source files, by name (the include file first).
extern const std::size_t kDriverSourceCount;
extern const char* const kDriverSourceNames[];
extern const char* const kDriverSources[];

// Where the GBS image is loaded: the driver's code and everything after it.
inline constexpr std::uint16_t kGbsLoadAddress = 0x0400;

}  // namespace qvb::gb
