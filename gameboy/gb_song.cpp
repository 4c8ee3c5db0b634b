#include "gameboy/gb_song.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>
#include <utility>

#include "song/channel_letters.h"
#include "song/pitch_tables.h"
#include "song/qvb_format.h"
#include "song/track_commands.h"

namespace qvb::gb {
namespace {

enum ScanKind { PulseKind, WaveKind, NoiseKind, kKinds };

constexpr ScanKind scanKind(int type) {
  if (type <= 1) return PulseKind;
  return type == 2 ? NoiseKind : WaveKind;
}

// Each kind's voices, and how many Game Boy channels play them.
struct KindInfo {
  const char* voices;
  std::size_t room;
  const char* roomWord;
};
constexpr KindInfo kKindInfo[kKinds] = {{"square or pulse", 2, "two"}, {"sine or wave", 1, "one"}, {"noise", 1, "one"}};
constexpr const char* kOrdinal[] = {"first", "second", "third"};

// What the hardware plays only the closest way; one warning per kind and channel.
enum class Approximation {
  BelowRange,
  PulseTimbre,
  PulseOctave,
  WaveVolume,
  WaveSamples,
  ReleaseSpeed,
  Panning,
  NoiseSound,
};

// An approximation's text and the offset of the first item that asks for it.
struct Found {
  std::string text;
  std::int32_t offset;
};

struct Scan {
  std::map<Approximation, Found> approximations;
};


void approximate(Scan& scan, std::int32_t offset, Approximation kind, std::string text) {
  scan.approximations.emplace(kind, Found{std::move(text), offset});
}

std::string format(const char* pattern, int value) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The lowest frequency each kind of channel reaches.
constexpr unsigned kLowestPulseHz = 64;
constexpr unsigned kLowestWaveHz = 32;

// Walks the block item by item as laid out (every place reading can reach is
// the start of one of these items), noting what its notes need.
Scan scanWarnings(std::span<const std::uint8_t> bytes) {
  Scan scan;
  const auto length = static_cast<std::int32_t>(bytes.size());
  int type = 0, timbre = 0, detune = 0, periodMode = 0, right = 0, left = 0;
  std::int32_t pos = 0;
  while (pos < length) {
    const std::int32_t start = pos;
    const TrackItem item = decodeItem(bytes.data(), length, pos);
    if (item.opcode == END && bytes[static_cast<std::size_t>(start)] != END) {
      pos = start;  // an item cut by the block's end reads as END
      break;
    }
    const int operand = item.operands[0];
    switch (item.opcode) {
      case VOLUME: right = left = operand; break;
      case VOLUME_RIGHT: right = operand; break;
      case VOLUME_LEFT: left = operand; break;
      case DETUNE: detune = operand; break;
      case TIMBRE: timbre = operand; break;
      case VOICE_TYPE:
        periodMode = operand >> 7;
        if ((operand & 0x0F) <= 4) {
          type = operand & 0x0F;
          if (type == 1) timbre = 3;
          if (type == 4) timbre = 0;
        }
        break;
      case RELEASE:
        if (operand != 0 && (operand < 3 || operand > 25))
          approximate(scan, start,
              Approximation::ReleaseSpeed,
              format("release %d is beyond what the hardware envelope can fall; the nearest pace is taken", operand));
        break;
      default: break;
    }
    if (!isNote(item.opcode)) continue;
    const ScanKind kind = scanKind(type);
    unsigned hz = 0;
    if (periodMode == 0) {
      hz = static_cast<std::uint16_t>(kNoteFrequency[item.opcode] + detune);
    } else {
      hz = kPeriodFrequency[static_cast<std::size_t>(
          std::clamp(static_cast<int>(kNotePeriod[item.opcode]) - detune, 0, kMaxPeriod))];
    }
    if ((kind == PulseKind && hz < kLowestPulseHz) || (kind == WaveKind && hz < kLowestWaveHz))
      approximate(scan, start, Approximation::BelowRange,
                                  "notes below the channel's range play at its lowest pitch");
    if (kind == PulseKind && type == 1 && (timbre == 3 || timbre == 5))
      approximate(scan, start, Approximation::PulseTimbre,
                                  "pulse timbres 3 and 5 have no duty here: played as 25 % and 75 %");
    if (kind == PulseKind && type == 1 && (timbre == 0 || timbre > 7))
      approximate(scan, start, Approximation::PulseOctave,
                                  "pulse timbres 0 and 8 and up play as a plain square");
    if (kind == WaveKind) {
      const int level = std::max(right, left) >> 4;
      if (level != 0 && level != 15)
        approximate(scan, start, Approximation::WaveVolume,
                                    "the wave channel has only the volumes 0, 25, 50 and 100 %: levels are rounded");
      approximate(scan, start, Approximation::WaveSamples,
                                  "the wave channel plays 32 samples of 4 bits: its waveform is coarser");
    }
    if (kind == NoiseKind)
      approximate(scan, start, Approximation::NoiseSound,
                                  "noise comes from the console's noise generator, not the player's noise table");
    if ((right >> 4) != (left >> 4) && (right >> 4) != 0 && (left >> 4) != 0)
      approximate(scan, start, Approximation::Panning,
                                  "left and right levels differ: each side is only on or off, at the louder level");
  }
  return scan;
}

// The slot in which song time `unit` falls due: the first at or after it.
std::int64_t slotAt(std::int64_t unit) { return (unit * 512 + kLoopDivisor - 1) / kLoopDivisor; }

// What the driver has written to a channel, as far as the stream knows.
struct Written {
  std::array<std::uint8_t, 5> regs{};
  std::uint8_t known = 0;  // bit n: regs[n] holds what the stream wrote
  std::uint8_t pan = 0;
  int wave = -1;
  bool operator==(const Written&) const = default;
};

// What qvb_init leaves: the channel silent (NRx2 = 0, the wave channel's DAC
// off), NR10 = 0 with pulse 1, the channel out of NR51.
Written afterInit() {
  Written w;
  w.known = 0x05;
  return w;
}

// One channel's writes at an instant, as the stream carries them.
struct ChannelWrites {
  bool wave = false;
  std::array<std::uint8_t, kWaveRamBytes> waveRam{};
  std::uint8_t registers = 0;  // bit n: NRx(n)
  std::array<std::uint8_t, 5> values{};
  bool pan = false;
  bool empty() const { return !wave && registers == 0 && !pan; }
};

// Only what changed, the frequency only while the channel sounds, NRx4's
// bit 7 where the channel restarts.
ChannelWrites encodeWrites(const HwState& s, bool restartAsked, Written& w, const WaveTable& waves) {
  const HwChannel hw = s.hw;
  ChannelWrites out;
  bool restart = restartAsked && s.sounding();
  if (hw == HwChannel::Wave) {
    restart = false;
    if (s.wave != -1 && s.wave != w.wave) {
      out.wave = true;
      const auto found = waves.find(s.wave);
      out.waveRam = s.wave == -2 || found == waves.end() ? kSineWaveRam : found->second;
      w.wave = s.wave;
      w.regs[0] = 0;   // the driver turns the DAC off for the copy
      restart = true;  // a new wave plays only from a restart
    }
  }
  const bool sounding = s.sounding() || restart;
  for (int n = 0; n < 5; ++n) {
    const auto bit = static_cast<std::uint8_t>(1 << n);
    const std::uint8_t value = s.regs[static_cast<std::size_t>(n)];
    const bool changed = (w.known & bit) == 0 || w.regs[static_cast<std::size_t>(n)] != value;
    bool want = false;
    switch (n) {
      case 0: want = (hw == HwChannel::Pulse1 || hw == HwChannel::Wave) && changed; break;
      case 1: want = (hw == HwChannel::Pulse1 || hw == HwChannel::Pulse2) && changed; break;
      case 2: want = changed; break;
      case 3: want = sounding && changed; break;
      default: want = hw == HwChannel::Noise ? restart : sounding && (changed || restart); break;
    }
    if (!want) continue;
    out.registers |= bit;
    out.values[static_cast<std::size_t>(n)] = n == 4 && restart ? static_cast<std::uint8_t>(value | 0x80) : value;
    w.regs[static_cast<std::size_t>(n)] = value;
    w.known |= bit;
  }
  if (s.pan != w.pan) {
    out.pan = true;
    w.pan = s.pan;
  }
  return out;
}

// What every channel asks for at one slot: its last state there, restarted
// if any moment in the slot restarted it.
struct SlotStates {
  std::int64_t slot = 0;
  std::array<std::optional<HwState>, kMaxChannels> states;
  std::array<bool, kMaxChannels> restart{};
};

// A moment of one channel on the song's time line.
struct Timed {
  std::int64_t unit;
  int hw;
  const HwState* state;
};

// Every channel's moments from `from` to `to`, each channel's loop
// unrolled, in time order (channels in hardware order within an instant).
std::vector<Timed> timeline(const GbSong& song, std::int64_t from, std::int64_t to) {
  std::vector<Timed> out;
  for (std::size_t c = 0; c < song.performance.size(); ++c) {
    const ChannelPerformance& perf = song.performance[c];
    const int hw = static_cast<int>(song.channels[c]);
    for (const HwMoment& m : perf.moments)
      if (m.unit >= from && m.unit < to && (perf.loopStart < 0 || &m < &perf.moments[static_cast<std::size_t>(perf.loopStart)]))
        out.push_back({m.unit, hw, &m.state});
    if (perf.loopStart < 0 || perf.loopUnits <= 0) continue;
    for (std::int64_t offset = 0;; offset += perf.loopUnits) {
      const std::int64_t first = perf.moments[static_cast<std::size_t>(perf.loopStart)].unit + offset;
      if (first >= to) break;
      for (std::size_t i = static_cast<std::size_t>(perf.loopStart); i < perf.moments.size(); ++i) {
        const std::int64_t unit = perf.moments[i].unit + offset;
        if (unit >= from && unit < to) out.push_back({unit, hw, &perf.moments[i].state});
      }
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Timed& a, const Timed& b) { return a.unit != b.unit ? a.unit < b.unit : a.hw < b.hw; });
  return out;
}

// Moments by slot, the first at least `firstSlot`; `offset` units are taken
// off every moment's time first.
std::vector<SlotStates> bySlot(const std::vector<Timed>& moments, std::int64_t offset, std::int64_t firstSlot) {
  std::vector<SlotStates> slots;
  for (const Timed& m : moments) {
    const std::int64_t slot = std::max(slotAt(m.unit - offset), slots.empty() ? firstSlot : slots.back().slot);
    if (slots.empty() || slots.back().slot != slot) slots.push_back(SlotStates{slot, {}, {}});
    SlotStates& at = slots.back();
    at.states[static_cast<std::size_t>(m.hw)] = *m.state;
    at.restart[static_cast<std::size_t>(m.hw)] = at.restart[static_cast<std::size_t>(m.hw)] || m.state->restart;
  }
  return slots;
}

// The sub-frames of one slot: the wave first, each channel's registers in
// hardware order, the song's NR51 bits last.
std::vector<std::uint8_t> encodeRecord(const SlotStates& slot, std::array<Written, kMaxChannels>& w,
                                       const WaveTable& waves) {
  std::vector<std::uint8_t> out;
  std::vector<std::size_t> heads;
  bool pan = false;
  // Channels whose level or restart changes come first (a note or a rest
  // is heard from them), pitch moves after.
  std::array<ChannelWrites, kMaxChannels> all;
  std::array<std::size_t, kMaxChannels> order{};
  std::size_t count = 0;
  for (std::size_t c = 0; c < kMaxChannels; ++c)
    if (slot.states[c]) all[c] = encodeWrites(*slot.states[c], slot.restart[c], w[c], waves);
  for (int urgent = 1; urgent >= 0; --urgent)
    for (std::size_t c = 0; c < kMaxChannels; ++c)
      if (slot.states[c] && ((all[c].registers & 0x14) != 0 || all[c].wave) == (urgent == 1)) order[count++] = c;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t c = order[k];
    const ChannelWrites& writes = all[c];
    if (writes.wave) {
      heads.push_back(out.size());
      out.push_back(kSubWave);
      out.insert(out.end(), writes.waveRam.begin(), writes.waveRam.end());
    }
    if (writes.registers != 0) {
      heads.push_back(out.size());
      out.push_back(static_cast<std::uint8_t>(writes.registers | c << kSubChannelShift));
      for (int n = 0; n < 5; ++n)
        if ((writes.registers >> n & 1) != 0) out.push_back(writes.values[static_cast<std::size_t>(n)]);
    }
    pan = pan || writes.pan;
  }
  if (pan) {
    std::uint8_t bits = 0;
    for (const Written& channel : w) bits |= channel.pan;
    heads.push_back(out.size());
    out.push_back(kSubPan);
    out.push_back(bits);
  }
  if (heads.empty()) {
    heads.push_back(0);
    out.push_back(kSubNothing);
  }
  for (std::size_t i = 0; i + 1 < heads.size(); ++i) out[heads[i]] |= kSubMore;
  return out;
}

struct Placed {
  std::vector<std::vector<std::uint8_t>> records;
  std::vector<std::int64_t> slots;
  std::vector<bool> crosses;  // the gap before it crosses the loop's end
};

void encodeSlots(Placed& out, const std::vector<SlotStates>& slots, std::array<Written, kMaxChannels>& w,
                 const WaveTable& waves, std::int64_t slotOffset, bool crossesFirst) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    out.records.push_back(encodeRecord(slots[i], w, waves));
    out.slots.push_back(slots[i].slot + slotOffset);
    out.crosses.push_back(i == 0 && crossesFirst);
  }
}

// The gaps of a stream whose records fall in `slots`, `crossing` from the
// last record to the loop target; long gaps become empty records.
GbStream withGaps(Placed placed, std::ptrdiff_t loopTarget, std::int64_t crossing) {
  GbStream stream;
  std::int64_t previous = 0;
  const auto addGap = [&stream](std::int64_t gap, std::uint8_t flag) {
    while (gap > kMaxGap) {
      stream.gaps.push_back(kMaxGap);
      stream.records.push_back({kSubNothing});
      gap -= kMaxGap;
    }
    stream.gaps.push_back(static_cast<std::uint8_t>(std::max<std::int64_t>(gap, 1) | flag));
  };
  std::ptrdiff_t target = -1;
  for (std::size_t i = 0; i < placed.records.size(); ++i) {
    addGap(placed.slots[i] - previous, placed.crosses[i] ? kGapCarry : 0);
    if (static_cast<std::ptrdiff_t>(i) == loopTarget) target = static_cast<std::ptrdiff_t>(stream.records.size());
    stream.records.push_back(std::move(placed.records[i]));
    previous = placed.slots[i];
  }
  if (target >= 0) {
    addGap(crossing, kGapCarry);
    stream.loopTarget = target;
  } else {
    stream.gaps.push_back(kGapEnd);
    stream.loopTarget = -1;
  }
  return stream;
}

// Where the song repeats: from `start` every `length` units (length 0: it
// ends), every channel periodic from there.
struct SharedLoop {
  std::int64_t start = 0;
  std::int64_t length = 0;
  bool cut = false;  // the channels' loops have no common length short enough
};

SharedLoop sharedLoop(const std::vector<ChannelPerformance>& channels) {
  SharedLoop loop;
  std::int64_t longest = 0;
  for (const ChannelPerformance& perf : channels) {
    if (perf.loopStart >= 0 && perf.loopUnits > 0) {
      loop.start = std::max(loop.start, perf.loopFromUnit);
      longest = std::max(longest, perf.loopUnits);
      loop.length = loop.length == 0 ? perf.loopUnits : std::lcm(loop.length, perf.loopUnits);
    } else if (!perf.moments.empty()) {
      loop.start = std::max(loop.start, perf.moments.back().unit + 1);
    }
  }
  if (loop.length > kMaxSharedLoopUnits) {
    loop.length = longest;
    loop.cut = true;
  }
  return loop;
}

GbStream encodeSong(const GbSong& song) {
  const SharedLoop loop = sharedLoop(song.performance);
  std::array<Written, kMaxChannels> w;
  w.fill(afterInit());
  if (loop.length == 0) {
    Placed placed;
    encodeSlots(placed, bySlot(timeline(song, 0, INT64_MAX), 0, 1), w, song.waves, 0, false);
    return withGaps(std::move(placed), -1, 0);
  }
  const std::int64_t scaled = loop.length * 512;
  const std::int64_t passSlots = scaled / kLoopDivisor;
  // A pass's last slot and the next pass's first must differ: when they
  // would fall together, the loop starts after the first slot's moments
  // instead (every pass is alike, so it may start anywhere).
  // The intro is [0, boundary), a pass [boundary, boundary + length): the
  // moment a channel's loop comes back from is its intro's last.
  std::int64_t boundary = loop.start + 1;
  // Every moment up to a pass past the latest boundary the search may take.
  const std::vector<Timed> all = timeline(song, 0, boundary + 2 * loop.length);
  const auto slice = [&all](std::int64_t from, std::int64_t to) {
    const auto unitBelow = [](const Timed& m, std::int64_t unit) { return m.unit < unit; };
    return std::vector<Timed>(std::lower_bound(all.begin(), all.end(), from, unitBelow),
                              std::lower_bound(all.begin(), all.end(), to, unitBelow));
  };
  std::vector<SlotStates> intro, body;
  for (int turns = 0;; ++turns) {
    intro = bySlot(slice(0, boundary), 0, 1);
    const std::int64_t first = intro.empty() ? 1 : intro.back().slot + 1;
    const std::vector<Timed> pass = slice(boundary, boundary + loop.length);
    body = bySlot(pass, 0, first);
    if (body.empty() || body.front().slot + passSlots - body.back().slot >= 1 || turns == 64) break;
    std::size_t i = 0;
    while (i < pass.size() && slotAt(pass[i].unit) <= body.front().slot) ++i;
    if (i == pass.size() || pass[i].unit >= loop.start + 1 + loop.length) break;
    boundary = pass[i].unit;
  }
  Placed placed;
  encodeSlots(placed, intro, w, song.waves, 0, false);
  if (body.empty()) return withGaps(std::move(placed), -1, 0);
  const std::int64_t crossing = body.front().slot + passSlots - body.back().slot;
  // The body as the first pass writes it, from what the intro left. When a
  // pass leaves the registers as it found them, every pass writes the same;
  // otherwise the second pass (from what the first left) is the one that
  // repeats.
  const auto before = w;
  std::ptrdiff_t target = static_cast<std::ptrdiff_t>(placed.records.size());
  encodeSlots(placed, body, w, song.waves, 0, false);
  if (w != before) {
    target = static_cast<std::ptrdiff_t>(placed.records.size());
    encodeSlots(placed, body, w, song.waves, passSlots, true);
  }
  GbStream stream = withGaps(std::move(placed), target, crossing);
  stream.loopRemainder = static_cast<std::uint16_t>(scaled % kLoopDivisor);
  stream.loopSlots = passSlots;
  return stream;
}

// The register addresses of a hardware channel: NRx0 and the NR51 bits' place.
constexpr std::uint8_t kRegisterBase[kMaxChannels] = {0x10, 0x15, 0x1A, 0x1F};
constexpr std::uint8_t kNR30 = 0x1A, kNR51 = 0x25, kWaveRam = 0x30;

}  // namespace

std::vector<GbRegisterWrite> registerWrites(const GbSong& song, std::int64_t untilUnit) {
  std::vector<GbRegisterWrite> writes{{0, 0x26, 0x80}, {0, 0x24, 0x77}};
  for (HwChannel hw : song.channels) {
    if (hw == HwChannel::Pulse1) writes.push_back({0, 0x10, 0});
    writes.push_back({0, hw == HwChannel::Wave ? kNR30 : static_cast<std::uint8_t>(kRegisterBase[static_cast<int>(hw)] + 2), 0});
  }
  writes.push_back({0, kNR51, 0});
  std::array<Written, kMaxChannels> w;
  w.fill(afterInit());
  std::uint8_t nr51 = 0;
  for (const Timed& m : timeline(song, 0, untilUnit)) {
    const auto c = static_cast<std::size_t>(m.hw);
    const ChannelWrites out = encodeWrites(*m.state, m.state->restart, w[c], song.waves);
    if (out.wave) {
      writes.push_back({m.unit, kNR30, 0});
      for (int i = 0; i < kWaveRamBytes; ++i)
        writes.push_back({m.unit, static_cast<std::uint8_t>(kWaveRam + i), out.waveRam[static_cast<std::size_t>(i)]});
    }
    for (int n = 0; n < 5; ++n)
      if ((out.registers >> n & 1) != 0)
        writes.push_back({m.unit, static_cast<std::uint8_t>(kRegisterBase[c] + n), out.values[static_cast<std::size_t>(n)]});
    std::uint8_t bits = 0;
    for (const Written& channel : w) bits |= channel.pan;
    if (bits != nr51) writes.push_back({m.unit, kNR51, nr51 = bits});
  }
  return writes;
}

GbSongLoop songLoop(const GbSong& song) {
  GbSongLoop loop;
  const SharedLoop shared = sharedLoop(song.performance);
  if (shared.length == 0 || shared.cut) {
    for (const ChannelPerformance& perf : song.performance)
      if (!perf.moments.empty()) loop.endUnit = std::max(loop.endUnit, perf.moments.back().unit);
    return loop;
  }
  loop.loops = true;
  loop.startUnit = shared.start;
  loop.lengthUnits = shared.length;
  loop.endUnit = shared.start + shared.length;
  return loop;
}

std::size_t GbStream::bytes() const {
  std::size_t total = gaps.size();
  for (const auto& record : records) total += record.size();
  return total;
}

GbSong buildGbSong(std::span<const std::uint8_t> image) {
  GbSong song;
  const ImageView view = viewImage(image);
  if (!view.ok()) {
    song.refusal = "the image is damaged";
    return song;
  }
  const auto text = view.titleText();
  song.title.assign(text.begin(), text.end());
  const int count = static_cast<int>(view.channels.size());
  if (count > kMaxChannels) {
    song.refusal = format("%d channels: the Game Boy has four sound channels", count);
    return song;
  }
  // Each channel takes the hardware of the kind its notes sound with as
  // the song plays.
  const Performance kinds = performOnGameBoy(image, {});
  if (!kinds.ok) {
    song.refusal = kinds.refusal;
    return song;
  }
  std::array<std::vector<int>, kKinds> byKind;
  for (int c = 0; c < count; ++c) {
    const ChannelKinds& played = kinds.kinds[static_cast<std::size_t>(c)];
    std::vector<int> sounded;
    for (int k = 0; k < kKinds; ++k)
      if (played.sounded[static_cast<std::size_t>(k)]) sounded.push_back(k);
    if (sounded.size() > 1) {
      song.refusal = channelName(c) + " switches between " + kKindInfo[sounded[0]].voices +
                     " and " + kKindInfo[sounded[1]].voices + " voices, which play on different Game Boy channels";
      return song;
    }
    const int kind = sounded.empty() ? static_cast<int>(played.lastSet) : sounded[0];
    byKind[static_cast<std::size_t>(kind)].push_back(c);
  }
  song.channels.assign(static_cast<std::size_t>(count), HwChannel::Pulse1);
  for (std::size_t k = 0; k < kKinds; ++k) {
    const std::vector<int>& channels = byKind[k];
    const KindInfo& info = kKindInfo[k];
    if (channels.size() > info.room) {
      song.refusal = channelName(channels[info.room]) + " would be a " + kOrdinal[info.room] +
                     " " + info.voices + " channel; the Game Boy has " + info.roomWord;
      return song;
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
      const HwChannel hw = k == PulseKind ? static_cast<HwChannel>(i) : k == WaveKind ? HwChannel::Wave : HwChannel::Noise;
      song.channels[static_cast<std::size_t>(channels[i])] = hw;
    }
  }

  Performance performance = performOnGameBoy(image, song.channels);
  WaveTable& waves = song.waves;
  for (std::size_t r = 0; r < view.waveCount(); ++r) {
    const auto record = view.waves.subspan(r * kWaveRecordSize, kWaveRecordSize);
    waves[record[0]] = waveRam(record.subspan(2, kWaveSampleCount));
  }
  song.performance = std::move(performance.channels);
  for (int c = 0; c < count; ++c) {
    for (const auto& [kind, found] : scanWarnings(view.channels[static_cast<std::size_t>(c)]).approximations)
      song.warnings.push_back({c, found.offset, channelName(c) + ": " + found.text});
    if (song.performance[static_cast<std::size_t>(c)].loopApproximate)
      song.warnings.push_back({c, -1, channelName(c) +
                                          ": its loop never comes back to quite the same state; the passes after "
                                          "the first replay the first"});
  }
  if (sharedLoop(song.performance).cut)
    song.warnings.push_back({0, -1, "the channels loop with lengths whose common multiple passes 10 minutes: on the "
                                    "Game Boy the song repeats with its longest channel loop"});
  song.stream = encodeSong(song);

  song.ok = true;
  return song;
}

}  // namespace qvb::gb
