// A song as a log of the Game Boy's sound register writes (a VGM file, version
// 1.61, for the DMG's sound chip), and the playlist line that tells music
// players how long its GBS file plays (an extended m3u line). Both come from
// the writes the driver makes (gb_song.h) at their exact times: a song time
// unit is two samples at 44100 Hz, so no wait is rounded. Nothing here
// touches the file system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gameboy/gb_song.h"

namespace qvb::gb {

inline constexpr std::int64_t kSamplesPerUnit = 2;  // 44100 Hz / 22050 units a second
// What a song that ends plays after its last write: its last notes' release.
inline constexpr std::int64_t kTailUnits = kUnitsPerSecond;
// How long a song whose channels loop with no loop they share is written.
inline constexpr std::int64_t kMaxUnsharedUnits = 10 * 60 * kUnitsPerSecond;
// The largest VGM file written (its offsets are 32 bits).
inline constexpr std::size_t kMaxVgmBytes = std::size_t{256} << 20;
inline constexpr std::uint32_t kDmgClock = 4194304;
// A looping song's fade in the playlist, in seconds.
inline constexpr int kPlaylistFadeSeconds = 10;

// How far a song is written, in song time.
struct GbPlayout {
  std::int64_t endUnit = 0;  // the end of the data
  // The loop every channel shares, up to endUnit (or the tail, looped, when
  // a note is held for ever); -1: none.
  std::int64_t loopStartUnit = -1;
  bool cut = false;  // the channels loop, but share no loop: cut at kMaxUnsharedUnits
  bool loops() const { return loopStartUnit >= 0; }
};
GbPlayout playout(const GbSong& song);

struct VgmFile {
  bool ok = false;
  std::string refusal;
  std::string warning;  // what the file leaves out, "" when nothing
  std::vector<std::uint8_t> bytes;
};

// The song's register writes as a VGM file with a GD3 tag (the title, the
// system, this program as its converter).
VgmFile makeVgm(const GbSong& song);

// The line that names the GBS file `gbsName` (a name beside the playlist) as
// its one song: "NAME::GBS,1,TITLE,LENGTH,LOOP,FADE", the times as m:ss or
// h:mm:ss (and .mmm when not whole seconds). A looping song plays its intro
// and two passes of its loop, then fades; a song that ends plays to its end
// and its tail.
std::string playlistLine(const GbSong& song, const std::string& gbsName);

}  // namespace qvb::gb
