// What the Game Boy's sound registers must hold as a song plays: the song is
// run by the player's own sequencer, and after every tick and effect frame
// each song channel's voice is mapped onto its hardware channel (pulse duty,
// envelope, frequency register, NR51 bits, wave RAM). The driver on the
// console only replays the result, so this is the one home of the mapping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gameboy/gb_stream_format.h"

namespace qvb::gb {

enum class HwChannel : std::uint8_t { Pulse1 = 0, Pulse2 = 1, Wave = 2, Noise = 3 };

inline constexpr int kMaxChannels = 4;
// Song time is counted in timer units: 22050 a second.
inline constexpr std::int64_t kUnitsPerSecond = 22050;

// One channel's registers as the voice asks for them at an instant. A
// field's meaning follows the hardware channel: regs are NRx0..NRx4 (NRx4
// without its restart bit), env the level register's value (NRx2, or NR32 on
// the wave channel).
struct HwState {
  std::array<std::uint8_t, 5> regs{};
  std::uint8_t pan = 0;   // the channel's NR51 bits
  int wave = -1;          // the wave RAM wanted: -2 the sine, a slot number, -1 none yet
  bool restart = false;   // the channel must restart (a note after silence, a release, a new wave)
  bool sounding() const;  // the channel's DAC is on at a level above 0
  HwChannel hw = HwChannel::Pulse1;

  bool operator==(const HwState&) const = default;
};

// The state after one of the sequencer's timer callbacks.
struct HwMoment {
  std::int64_t unit = 0;  // song time of the callback
  HwState state;
};

struct ChannelPerformance {
  std::vector<HwMoment> moments;  // one for each callback after which anything changed
  // Moments [loopStart, end) repeat for ever, each pass loopUnits later,
  // starting right after loopFrom (the moment whose state they come back
  // to); loopStart -1: the channel ends after its last moment.
  std::ptrdiff_t loopStart = -1;
  std::int64_t loopFromUnit = 0;
  std::int64_t loopUnits = 0;
  // Passes after the first may differ slightly from the first (effects that
  // never come back to the same state, a tempo set from another channel).
  bool loopApproximate = false;
};

// The kind of voice each channel's notes sounded with as the song played,
// and the kind it last set when it played none.
enum class VoiceKind : std::uint8_t { Pulse, Wave, Noise };

struct ChannelKinds {
  std::array<bool, 3> sounded{};
  VoiceKind lastSet = VoiceKind::Pulse;
  std::int32_t firstOffset[3] = {-1, -1, -1};  // the item of the first note of each kind
};

struct Performance {
  bool ok = false;
  std::string refusal;
  std::vector<ChannelKinds> kinds;            // per song channel
  std::vector<ChannelPerformance> channels;  // per song channel, once mapped
};

// How long a song may play before it must have ended or come back to its
// loop, in song time.
inline constexpr std::int64_t kMaxPerformanceUnits = 60 * 60 * kUnitsPerSecond;
// Callbacks a performance may take (a song whose ticks are a unit long).
inline constexpr std::int64_t kMaxPerformanceCallbacks = 2'000'000;

// Plays the image (which the player must accept) and maps each channel onto
// the hardware channel given for it; with no channels given, only finds
// the kinds each channel plays.
Performance performOnGameBoy(std::span<const std::uint8_t> image, const std::vector<HwChannel>& channels);

// The frequency register value for f Hz: 2048 - K / f rounded (K = 131072
// on the pulse channels, 65536 on the wave channel), 0 below the channel's
// range. The noise channel takes no such register.
int frequencyRegister(HwChannel channel, unsigned hz);
// NR43 for a noise note of f Hz: the generator clocked near 100 * f, as the
// player's noise table advances (0xD7, the slowest, for 0 Hz).
int noiseRegister(unsigned hz);
// Wave RAM for 32 signed 8-bit samples: 4 bits each, high nibble first.
std::array<std::uint8_t, kWaveRamBytes> waveRam(std::span<const std::uint8_t> samples);
// The sine the player's type 3 voice plays, as wave RAM.
extern const std::array<std::uint8_t, kWaveRamBytes> kSineWaveRam;

}  // namespace qvb::gb
