#include "gameboy/gb_song.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "song/pitch_tables.h"
#include "song/track_commands.h"

namespace qvb::gb {
namespace {

enum VoiceKind { Pulse, WaveKind, NoiseKind, kKinds };

constexpr VoiceKind kindOfType(int type) {
  if (type <= 1) return Pulse;
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
  std::vector<std::uint8_t> block;  // ends with an END no item crosses
  std::array<bool, kKinds> sounds{};  // the kinds its notes sound with
  std::optional<VoiceKind> lastSetKind;
  std::map<Approximation, Found> approximations;
  std::vector<int> waveSlots;  // slots its wave notes read
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
Scan scanChannel(std::span<const std::uint8_t> bytes) {
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
          scan.lastSetKind = kindOfType(type);
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
    const VoiceKind kind = kindOfType(type);
    scan.sounds[kind] = true;
    unsigned hz = 0;
    if (periodMode == 0) {
      hz = static_cast<std::uint16_t>(kNoteFrequency[item.opcode] + detune);
    } else {
      hz = kPeriodFrequency[static_cast<std::size_t>(
          std::clamp(static_cast<int>(kNotePeriod[item.opcode]) - detune, 0, kMaxPeriod))];
    }
    if ((kind == Pulse && hz < kLowestPulseHz) || (kind == WaveKind && hz < kLowestWaveHz))
      approximate(scan, start, Approximation::BelowRange,
                                  "notes below the channel's range play at its lowest pitch");
    if (kind == Pulse && type == 1 && (timbre == 3 || timbre == 5))
      approximate(scan, start, Approximation::PulseTimbre,
                                  "pulse timbres 3 and 5 have no duty here: played as 25 % and 75 %");
    if (kind == Pulse && type == 1 && (timbre == 0 || timbre > 7))
      approximate(scan, start, Approximation::PulseOctave,
                                  "pulse timbres 0 and 8 and up play as a plain square");
    if (kind == WaveKind) {
      const int level = std::max(right, left) >> 4;
      if (level != 0 && level != 15)
        approximate(scan, start, Approximation::WaveVolume,
                                    "the wave channel has only the volumes 0, 25, 50 and 100 %: levels are rounded");
      approximate(scan, start, Approximation::WaveSamples,
                                  "the wave channel plays 32 samples of 4 bits: its waveform is coarser");
      if (type == 4) scan.waveSlots.push_back(timbre);
    }
    if (kind == NoiseKind)
      approximate(scan, start, Approximation::NoiseSound,
                                  "noise comes from the console's noise generator, not the player's noise table");
    if ((right >> 4) != (left >> 4) && (right >> 4) != 0 && (left >> 4) != 0)
      approximate(scan, start, Approximation::Panning,
                                  "left and right levels differ: each side is only on or off, at the louder level");
  }
  scan.block.assign(bytes.begin(), bytes.begin() + pos);
  scan.block.push_back(END);
  return scan;
}

void put16(std::vector<std::uint8_t>& data, std::size_t at, std::size_t value) {
  data[at] = static_cast<std::uint8_t>(value & 0xFF);
  data[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr std::size_t kMaxSongData = 0xFFFF;

}  // namespace

int frequencyRegister(HwChannel channel, unsigned hz) {
  const unsigned k = channel == HwChannel::Wave ? 65536 : 131072;
  if (hz < k / 2048) return 0;
  if (hz >= 32768) return 2047;
  return 2048 - static_cast<int>((k + hz / 2) / hz);
}

int noiseRegister(unsigned hz) {
  constexpr int kSlowest = 0xD7;
  if (hz == 0) return kSlowest;
  // 524288 / r / 2^(s+1) Hz with r = 0.5, 1..7: twice r * 2^s near 5232 / f.
  unsigned v = (5232 + hz / 2) / hz;
  int shift = 0;
  for (; v > 14; ++shift) v = (v + 1) >> 1;
  const unsigned ratio = v < 2 ? 0 : (v + 1) >> 1;
  return shift >= 14 ? kSlowest : shift << 4 | static_cast<int>(ratio);
}

GbSong buildGbSong(const ImageView& image) {
  GbSong song;
  const auto text = image.titleText();
  song.title.assign(text.begin(), text.end());
  const int count = static_cast<int>(image.channels.size());
  if (count > kMaxChannels) {
    song.refusal = format("%d channels: the Game Boy has four sound channels", count);
    return song;
  }
  std::vector<Scan> scans;
  for (const auto& block : image.channels) scans.push_back(scanChannel(block));

  // Each channel takes the hardware of the kind its notes sound with.
  std::array<std::vector<int>, kKinds> byKind;
  for (int c = 0; c < count; ++c) {
    const Scan& scan = scans[static_cast<std::size_t>(c)];
    std::vector<int> kinds;
    for (int k = 0; k < kKinds; ++k)
      if (scan.sounds[static_cast<std::size_t>(k)]) kinds.push_back(k);
    if (kinds.size() > 1) {
      song.refusal = std::string("channel ") + letter(c) + " switches between " + kKindInfo[kinds[0]].voices +
                     " and " + kKindInfo[kinds[1]].voices + " voices, which play on different Game Boy channels";
      return song;
    }
    const int kind = kinds.empty() ? scan.lastSetKind.value_or(Pulse) : kinds[0];
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
      const HwChannel hw = k == Pulse ? static_cast<HwChannel>(i) : k == WaveKind ? HwChannel::Wave : HwChannel::Noise;
      song.channels[static_cast<std::size_t>(channels[i])] = hw;
    }
  }

  // The waves the wave channel reads, the last record of a slot winning.
  std::map<int, std::span<const std::uint8_t>> waves;
  for (std::size_t r = 0; r < image.waveCount(); ++r) {
    const auto record = image.waves.subspan(r * kWaveRecordSize, kWaveRecordSize);
    waves[record[0]] = record.subspan(2, kWaveSampleCount);
  }
  std::vector<int> used;
  for (const Scan& scan : scans) used.insert(used.end(), scan.waveSlots.begin(), scan.waveSlots.end());
  std::sort(used.begin(), used.end());
  used.erase(std::unique(used.begin(), used.end()), used.end());
  std::erase_if(used, [&](int slot) { return !waves.contains(slot); });

  auto& data = song.data;
  data = {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(used.size())};
  const std::size_t table = data.size();
  data.resize(table + 3 * static_cast<std::size_t>(count));
  for (int slot : used) {
    data.push_back(static_cast<std::uint8_t>(slot));
    const auto samples = waves[slot];
    for (std::size_t i = 0; i < kWaveSampleCount; i += 2) {
      const int high = (samples[i] ^ 0x80) >> 4;
      const int low = (samples[i + 1] ^ 0x80) >> 4;
      data.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
  }
  for (int c = 0; c < count; ++c) {
    const std::size_t entry = table + 3 * static_cast<std::size_t>(c);
    data[entry] = static_cast<std::uint8_t>(song.channels[static_cast<std::size_t>(c)]);
    put16(data, entry + 1, data.size());
    const Scan& scan = scans[static_cast<std::size_t>(c)];
    data.insert(data.end(), scan.block.begin(), scan.block.end());
    for (const auto& [kind, found] : scan.approximations)
      song.warnings.push_back({c, found.offset, std::string("channel ") + letter(c) + ": " + found.text});
    if (data.size() > kMaxSongData) {
      song.refusal = format("the song data take more than %d bytes", static_cast<int>(kMaxSongData));
      return song;
    }
  }
  song.ok = true;
  return song;
}

}  // namespace qvb::gb
