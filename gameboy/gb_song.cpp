#include "gameboy/gb_song.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <numeric>
#include <optional>
#include <utility>

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

char letter(int channel) { return static_cast<char>('A' + channel); }

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

struct SlotState {
  std::int64_t slot;
  HwState state;
  bool restart;
};

// Moments [from, to) by slot: each slot's last state, restarted if any
// moment in it restarted. The first slot is at least `firstSlot`, and each
// comes after the one before.
std::vector<SlotState> bySlot(const std::vector<HwMoment>& moments, std::size_t from, std::size_t to,
                              std::int64_t firstSlot) {
  std::vector<SlotState> slots;
  for (std::size_t i = from; i < to; ++i) {
    const std::int64_t slot = std::max(slotAt(moments[i].unit), slots.empty() ? firstSlot : slots.back().slot);
    if (!slots.empty() && slots.back().slot == slot) {
      slots.back().state = moments[i].state;
      slots.back().restart = slots.back().restart || moments[i].state.restart;
    } else {
      slots.push_back({slot, moments[i].state, moments[i].state.restart});
    }
  }
  return slots;
}

// One slot's writes: only what changed, the frequency only while the channel
// sounds, NRx4's bit 7 where the channel restarts.
std::vector<std::uint8_t> encodeFrame(const SlotState& target, Written& w, const WaveTable& waves) {
  const HwState& s = target.state;
  const HwChannel hw = s.hw;
  std::vector<std::uint8_t> frame{0};
  std::uint8_t mask = 0;
  bool restart = target.restart && s.sounding();
  if (hw == HwChannel::Wave) {
    restart = false;
    if (s.wave != -1 && s.wave != w.wave) {
      mask |= kFrameWave;
      const auto found = waves.find(s.wave);
      const auto& ram = s.wave == -2 || found == waves.end() ? kSineWaveRam : found->second;
      frame.insert(frame.end(), ram.begin(), ram.end());
      w.wave = s.wave;
      w.regs[0] = 0;  // the driver turns the DAC off for the copy
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
    mask |= static_cast<std::uint8_t>(kFrameReg0 << n);
    frame.push_back(static_cast<std::uint8_t>(n == 4 && restart ? value | 0x80 : value));
    w.regs[static_cast<std::size_t>(n)] = value;
    w.known |= bit;
  }
  if (s.pan != w.pan) {
    mask |= kFramePan;
    frame.push_back(s.pan);
    w.pan = s.pan;
  }
  frame[0] = mask;
  return frame;
}

std::vector<std::vector<std::uint8_t>> encodeFrames(const std::vector<SlotState>& slots, Written& w,
                                                    const WaveTable& waves) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const SlotState& slot : slots) frames.push_back(encodeFrame(slot, w, waves));
  return frames;
}

// Frames with their slots, and the gaps between them (long ones split by
// empty frames, every gap at least a slot).
struct Timed {
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<std::int64_t> slots;
  std::vector<bool> crosses;  // the gap before it crosses the loop's end
};

void append(Timed& out, const std::vector<std::vector<std::uint8_t>>& frames, const std::vector<SlotState>& slots,
            std::int64_t offset) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    out.frames.push_back(frames[i]);
    out.slots.push_back(slots[i].slot + offset);
    out.crosses.push_back(i == 0 && offset != 0);
  }
}

// The gaps list of a stream whose frames fall in `slots`, with `crossing`
// from the last frame to the loop target (0: none); long gaps become empty
// frames.
GbStream withGaps(Timed timed, std::ptrdiff_t loopTarget, std::int64_t crossing, std::uint16_t remainder) {
  GbStream stream;
  stream.loopRemainder = remainder;
  std::int64_t previous = 0;
  const auto addGap = [&stream](std::int64_t gap, std::uint16_t flag) {
    while (gap > kMaxGap) {
      stream.gaps.push_back(static_cast<std::uint16_t>(kMaxGap | flag));
      stream.frames.push_back({0});
      gap -= kMaxGap;
      flag = 0;
    }
    stream.gaps.push_back(static_cast<std::uint16_t>(std::max<std::int64_t>(gap, 1) | flag));
  };
  for (std::size_t i = 0; i < timed.frames.size(); ++i) {
    if (static_cast<std::ptrdiff_t>(i) == loopTarget) loopTarget = static_cast<std::ptrdiff_t>(stream.frames.size());
    addGap(timed.slots[i] - previous, timed.crosses[i] ? kGapLoops : 0);
    stream.frames.push_back(std::move(timed.frames[i]));
    previous = timed.slots[i];
  }
  if (loopTarget >= 0 && !stream.frames.empty()) {
    addGap(crossing, kGapLoops);
    stream.loopTarget = loopTarget;
  } else {
    stream.gaps.push_back(kGapNever);
    stream.loopTarget = -1;
  }
  return stream;
}

GbStream encodeChannel(const ChannelPerformance& perf, const WaveTable& waves) {
  std::vector<HwMoment> moments = perf.moments;
  std::size_t introEnd = perf.loopStart >= 0 ? static_cast<std::size_t>(perf.loopStart) : moments.size();
  const std::int64_t scaled = perf.loopUnits * 512;
  const std::int64_t passSlots = scaled / kLoopDivisor;
  const auto remainder = static_cast<std::uint16_t>(scaled % kLoopDivisor);
  std::vector<SlotState> intro = bySlot(moments, 0, introEnd, 1);
  std::vector<SlotState> body;
  // A pass's last slot and the next pass's first must differ: when they
  // fall together, the loop begins a slot group later (the group moves to
  // the end of the pass, a pass on), which it may, as every pass is alike.
  for (std::size_t turns = 0; perf.loopStart >= 0 && introEnd < moments.size(); ++turns) {
    body = bySlot(moments, introEnd, moments.size(), intro.empty() ? 1 : intro.back().slot + 1);
    if (body.front().slot + passSlots - body.back().slot >= 1 || turns == 64 || body.size() == 1) break;
    std::size_t group = introEnd;
    while (group < moments.size() && slotAt(moments[group].unit) <= body.front().slot) ++group;
    for (std::size_t i = introEnd; i < group; ++i)
      moments.push_back({moments[i].unit + perf.loopUnits, moments[i].state});
    introEnd = group;
    intro = bySlot(moments, 0, introEnd, 1);
  }
  Written w = afterInit();
  Timed timed;
  append(timed, encodeFrames(intro, w, waves), intro, 0);
  if (perf.loopStart < 0 || introEnd == moments.size()) return withGaps(std::move(timed), -1, 0, 0);
  const std::int64_t crossing = body.front().slot + passSlots - body.back().slot;
  // The body as the first pass writes it, from what the intro left. When a
  // pass leaves the driver's registers as it found them, every pass writes
  // the same; otherwise the second pass (from what the first left) is the
  // one that repeats.
  const Written before = w;
  const auto first = encodeFrames(body, w, waves);
  std::ptrdiff_t target = static_cast<std::ptrdiff_t>(timed.frames.size());
  append(timed, first, body, 0);
  if (!(w == before)) {
    target = static_cast<std::ptrdiff_t>(timed.frames.size());
    append(timed, encodeFrames(body, w, waves), body, passSlots);
  }
  return withGaps(std::move(timed), target, crossing, remainder);
}

// The register addresses of a hardware channel: NRx0 and the NR51 bits' place.
constexpr std::uint8_t kRegisterBase[kMaxChannels] = {0x10, 0x15, 0x1A, 0x1F};
constexpr std::uint8_t kNR30 = 0x1A, kNR51 = 0x25, kWaveRam = 0x30;

// Turns one frame into its writes, as the driver makes them.
void frameWrites(const std::vector<std::uint8_t>& frame, HwChannel hw, std::int64_t unit, std::uint8_t& nr51,
                 std::uint8_t& pans, std::vector<GbRegisterWrite>& out) {
  std::size_t at = 1;
  const std::uint8_t mask = frame[0];
  if ((mask & kFrameWave) != 0) {
    out.push_back({unit, kNR30, 0});
    for (int i = 0; i < kWaveRamBytes; ++i) out.push_back({unit, static_cast<std::uint8_t>(kWaveRam + i), frame[at++]});
  }
  const auto base = kRegisterBase[static_cast<int>(hw)];
  for (int n = 0; n < 5; ++n)
    if ((mask & (kFrameReg0 << n)) != 0) out.push_back({unit, static_cast<std::uint8_t>(base + n), frame[at++]});
  if ((mask & kFramePan) != 0) {
    const auto bits = static_cast<std::uint8_t>(0x11 << static_cast<int>(hw));
    pans = static_cast<std::uint8_t>((pans & ~bits) | (frame[at++] & bits));
    if (pans != nr51) out.push_back({unit, kNR51, nr51 = pans});
  }
}

}  // namespace

std::vector<GbRegisterWrite> registerWrites(const GbSong& song, std::int64_t untilUnit) {
  std::vector<GbRegisterWrite> writes{{0, 0x26, 0x80}, {0, 0x24, 0x77}};
  std::uint8_t nr51 = 0, pans = 0;
  for (std::size_t c = 0; c < song.channels.size(); ++c) {
    const HwChannel hw = song.channels[c];
    if (hw == HwChannel::Pulse1) writes.push_back({0, 0x10, 0});
    writes.push_back({0, hw == HwChannel::Wave ? kNR30 : static_cast<std::uint8_t>(kRegisterBase[static_cast<int>(hw)] + 2), 0});
  }
  writes.push_back({0, kNR51, 0});
  // Each channel's frames at their exact times, merged by time (a stable
  // sort keeps the channel order within an instant, as the sequencer has it).
  struct Timed {
    std::int64_t unit;
    std::size_t channel;
    std::vector<std::uint8_t> frame;
  };
  std::vector<Timed> frames;
  for (std::size_t c = 0; c < song.performance.size() && c < song.channels.size(); ++c) {
    const ChannelPerformance& perf = song.performance[c];
    Written w = afterInit();
    const auto emit = [&](const HwMoment& moment, std::int64_t unit) {
      const std::vector<std::uint8_t> frame = encodeFrame({0, moment.state, moment.state.restart}, w, song.waves);
      if (frame[0] != 0) frames.push_back({unit, c, frame});
    };
    for (std::size_t i = 0; i < perf.moments.size(); ++i) {
      if (perf.moments[i].unit >= untilUnit) break;
      emit(perf.moments[i], perf.moments[i].unit);
    }
    if (perf.loopStart < 0 || perf.loopUnits <= 0) continue;
    for (std::int64_t pass = 1;; ++pass) {
      const std::int64_t offset = pass * perf.loopUnits;
      if (perf.moments[static_cast<std::size_t>(perf.loopStart)].unit + offset >= untilUnit) break;
      for (std::size_t i = static_cast<std::size_t>(perf.loopStart); i < perf.moments.size(); ++i) {
        if (perf.moments[i].unit + offset >= untilUnit) break;
        emit(perf.moments[i], perf.moments[i].unit + offset);
      }
    }
  }
  std::stable_sort(frames.begin(), frames.end(), [](const Timed& a, const Timed& b) { return a.unit < b.unit; });
  for (const Timed& timed : frames) frameWrites(timed.frame, song.channels[timed.channel], timed.unit, nr51, pans, writes);
  return writes;
}

GbSongLoop songLoop(const GbSong& song) {
  GbSongLoop loop;
  std::int64_t start = 0, length = 0;
  for (const ChannelPerformance& perf : song.performance) {
    if (perf.loopStart >= 0 && perf.loopUnits > 0) {
      start = std::max(start, perf.loopFromUnit);
      length = length == 0 ? perf.loopUnits : std::lcm(length, perf.loopUnits);
      if (length > kMaxSharedLoopUnits) return loop;
    } else if (!perf.moments.empty()) {
      start = std::max(start, perf.moments.back().unit + 1);
      loop.endUnit = std::max(loop.endUnit, perf.moments.back().unit);
    }
  }
  if (length == 0) return loop;
  loop.loops = true;
  loop.startUnit = start;
  loop.lengthUnits = length;
  loop.endUnit = start + length;
  return loop;
}

std::size_t GbStream::bytes() const {
  std::size_t total = 2 * gaps.size();
  for (const auto& frame : frames) total += frame.size();
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
      song.refusal = std::string("channel ") + letter(c) + " switches between " + kKindInfo[sounded[0]].voices +
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
      song.refusal = std::string("channel ") + letter(channels[info.room]) + " would be a " + kOrdinal[info.room] +
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
  for (int c = 0; c < count; ++c) {
    const ChannelPerformance& perf = performance.channels[static_cast<std::size_t>(c)];
    song.streams.push_back(encodeChannel(perf, waves));
    for (const auto& [kind, found] : scanWarnings(view.channels[static_cast<std::size_t>(c)]).approximations)
      song.warnings.push_back({c, found.offset, std::string("channel ") + letter(c) + ": " + found.text});
    if (perf.loopApproximate)
      song.warnings.push_back({c, -1, std::string("channel ") + letter(c) +
                                          ": its loop never comes back to quite the same state; the passes after "
                                          "the first replay the first"});
  }
  song.performance = std::move(performance.channels);
  song.ok = true;
  return song;
}

}  // namespace qvb::gb
