// A song as the Game Boy driver replays it: which of the console's four
// sound channels each song channel takes, each channel's stream of register
// frames and waits (worked out by the sequencer and gb_registers.h), and the
// warnings about what the hardware plays only the closest way; or why the
// song cannot be played there at all. Where the streams go in ROM (and in
// which banks) is the files' business (gb_files.h).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "gameboy/gb_registers.h"

namespace qvb::gb {

// What the hardware plays only the closest way, for one channel.
struct GbWarning {
  int channel;
  std::int32_t offset;  // in the channel's block, of the first item that asks for it; -1 none
  std::string text;     // "channel A: ..."
};

// The song's stream before it is placed: records R1..Rn (their sub-frames)
// and the gaps between them: gaps[0] from qvb_init to R1 and gaps[i] from
// R(i) to the record after it: R(i+1), or R(loopTarget + 1) after Rn when
// the song loops. Every gap is 1..kMaxGap slots, with kGapCarry added to the
// one that crosses the loop's end.
struct GbStream {
  std::vector<std::vector<std::uint8_t>> records;
  std::vector<std::uint8_t> gaps;
  std::ptrdiff_t loopTarget = -1;   // 0-based record index; -1: the song ends
  std::uint16_t loopRemainder = 0;  // 11025ths of a slot each pass adds to its gaps
  std::int64_t loopSlots = 0;       // a pass's length in whole slots (0: no loop)
  // The bytes the records take with their gaps (jumps not counted).
  std::size_t bytes() const;
};

// The song's waves as wave RAM, by slot.
using WaveTable = std::map<int, std::array<std::uint8_t, kWaveRamBytes>>;

struct GbSong {
  bool ok = false;
  std::string refusal;           // why not, naming the channel where one is to blame
  std::string title;             // up to the first zero byte
  // Who wrote the song and who holds it, for the GBS file and the VGM tag:
  // not in the image, so the caller sets them (a source's #COMPOSER and
  // #COPYRIGHT, qvbgb's --composer and --copyright).
  std::string composer, copyright;
  std::vector<HwChannel> channels;  // per song channel
  GbStream stream;
  std::vector<GbWarning> warnings;  // one per kind of approximation and channel
  std::vector<ChannelPerformance> performance;  // what the streams were made from
  WaveTable waves;
};

// Plays the image (one the loader accepted) to make the streams.
GbSong buildGbSong(std::span<const std::uint8_t> image);

// One write the driver makes, at the sequencer's exact time (not rounded to
// the driver's slots): for files that carry register writes with their own
// clock (VGM). reg is the low byte of the address (0x10..0x3F).
struct GbRegisterWrite {
  std::int64_t unit;
  std::uint8_t reg;
  std::uint8_t value;
};

// What qvb_init writes, then every write from song time 0 up to (not
// including) `untilUnit`, loops unrolled, in time order; NR51 written whole.
std::vector<GbRegisterWrite> registerWrites(const GbSong& song, std::int64_t untilUnit);

// The loop every channel shares: from startUnit on the writes repeat every
// lengthUnits (the channels' loops' least common multiple, when it is at most
// kMaxSharedLoopUnits), every channel that ends having ended before it.
struct GbSongLoop {
  bool loops = false;
  std::int64_t startUnit = 0;
  std::int64_t lengthUnits = 0;
  std::int64_t endUnit = 0;  // without a loop: the last write's time
};
inline constexpr std::int64_t kMaxSharedLoopUnits = 10 * 60 * kUnitsPerSecond;
GbSongLoop songLoop(const GbSong& song);

}  // namespace qvb::gb
