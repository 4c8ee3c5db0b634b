// A song as the Game Boy sound driver plays it: which of the console's four
// sound channels each song channel takes, the driver's song data, and the
// warnings about what the hardware plays only the closest way; or why the
// song cannot be played there at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "song/qvb_format.h"

namespace qvb::gb {

enum class HwChannel : std::uint8_t { Pulse1 = 0, Pulse2 = 1, Wave = 2, Noise = 3 };

inline constexpr int kMaxChannels = 4;

// What the hardware plays only the closest way, for one channel.
struct GbWarning {
  int channel;
  std::int32_t offset;  // in the channel's block, of the first item that asks for it
  std::string text;     // "channel A: ..."
};

struct GbSong {
  bool ok = false;
  std::string refusal;           // why not, naming the channel where one is to blame
  std::string title;             // up to the first zero byte
  std::vector<HwChannel> channels;  // per song channel
  std::vector<std::uint8_t> data;   // what qvb_init takes
  std::vector<GbWarning> warnings;  // one per kind of approximation and channel
};

// Reads the image only through its view; the view must be ok().
GbSong buildGbSong(const ImageView& image);

// The frequency register value the driver writes for f Hz: 2048 - K / f
// rounded (K = 131072 on the pulse channels, 65536 on the wave channel), 0
// below the channel's range. The noise channel takes no such register.
int frequencyRegister(HwChannel channel, unsigned hz);
// NR43 for a noise note of f Hz: the generator clocked near 100 * f, as the
// player's noise table advances (0xD7, the slowest, for 0 Hz).
int noiseRegister(unsigned hz);

}  // namespace qvb::gb
