// Bytes as a song (a source or an image) made into the Game Boy's files. A
// song the hardware cannot play is refused with a reason; otherwise the ROM
// is a whole number of banks with its checksums right, the stream read from
// it as the driver reads it (following jumps, inside the bank window of
// each) holds the song's records in order and jumps back to its loop, the
// GBS file carries the same image from its load address, and the kit and
// the VGM file are made or refused with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "gameboy/gb_vgm.h"
#include "loader/song_loader.h"

namespace {

using namespace qvb::gb;

void check(bool condition) {
  if (!condition) std::abort();
}

// The ROM's byte at a CPU address in a bank (0: the first 32 KB unbanked).
struct Reader {
  const std::vector<std::uint8_t>& rom;
  int bank;
  std::uint16_t address;
  std::uint8_t next() {
    check(bank == 0 ? address < 2 * kBankSize : address >= kBankWindow && address < kBankWindow + kBankSize);
    const std::size_t at = bank == 0 ? address : static_cast<std::size_t>(bank) * kBankSize + (address - kBankWindow);
    check(at < rom.size());
    ++address;
    return rom[at];
  }
};

void checkStream(const GbSong& song, const std::vector<std::uint8_t>& rom) {
  const std::size_t header = kSongDataAddress;
  const GbStream& stream = song.stream;
  Reader reader{rom, rom[header + kHeaderBank],
                static_cast<std::uint16_t>(rom[header + kHeaderAddress] | rom[header + kHeaderAddress + 1] << 8)};
  check(rom[header + kHeaderFirstGap] == stream.gaps[0]);
  const auto follow = [&reader] {
    std::uint8_t gap = reader.next();
    while (gap == kJump) {
      const std::uint8_t low = reader.next(), high = reader.next(), bank = reader.next();
      reader.bank = bank;
      reader.address = static_cast<std::uint16_t>(low | high << 8);
      gap = reader.next();
    }
    return gap;
  };
  for (std::size_t i = 0; i < stream.records.size(); ++i) {
    const std::uint8_t gap = follow();
    check((gap & ~kGapCarry) <= kMaxGap);
    for (std::uint8_t byte : stream.records[i]) check(reader.next() == byte);
  }
  if (stream.loopTarget >= 0) {
    // Back at the loop's record.
    follow();
    for (std::uint8_t byte : stream.records[static_cast<std::size_t>(stream.loopTarget)]) check(reader.next() == byte);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 16) return 0;
  const qvb::LoadedSong loaded = qvb::loadSong(std::span(data, size));
  if (!loaded.ok()) return 0;
  const GbSong song = buildGbSong(loaded.image);
  if (!song.ok) {
    check(!song.refusal.empty());
    return 0;
  }
  const GbFile rom = makeRom(song);
  check(rom.ok || !rom.refusal.empty());
  if (rom.ok) {
    check(rom.bytes.size() == static_cast<std::size_t>(rom.banks) * kBankSize && (rom.banks & (rom.banks - 1)) == 0);
    std::uint8_t sum = 0;
    for (std::size_t i = 0x134; i < 0x14D; ++i) sum = static_cast<std::uint8_t>(sum - rom.bytes[i] - 1);
    check(rom.bytes[0x14D] == sum);
    unsigned global = 0;
    for (std::size_t i = 0; i < rom.bytes.size(); ++i)
      if (i != 0x14E && i != 0x14F) global += rom.bytes[i];
    check((rom.bytes[0x14E] << 8 | rom.bytes[0x14F]) == (global & 0xFFFF));
    checkStream(song, rom.bytes);
    const GbFile gbs = makeGbs(song);
    check(gbs.ok && gbs.bytes.size() > 0x70 && gbs.bytes[0] == 'G');
    check((gbs.bytes[6] | gbs.bytes[7] << 8) == kGbsLoadAddress);
    for (std::size_t i = 0x70; i < gbs.bytes.size() && kGbsLoadAddress + i - 0x70 < kSongDataAddress + 8; ++i)
      check(gbs.bytes[i] == rom.bytes[kGbsLoadAddress + i - 0x70]);
  }
  check(!makeAsmKit(song, "f").empty());
  const VgmFile vgm = makeVgm(song);
  check(vgm.ok || !vgm.refusal.empty());
  return 0;
}
