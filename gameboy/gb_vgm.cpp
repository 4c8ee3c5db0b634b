#include "gameboy/gb_vgm.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

namespace qvb::gb {
namespace {

// The header, as the format lays it out: offsets are relative to the field
// that holds them.
constexpr std::size_t kHeaderSize = 0x100;
constexpr std::size_t kEofOffsetAt = 0x04;
constexpr std::size_t kVersionAt = 0x08;
constexpr std::size_t kGd3OffsetAt = 0x14;
constexpr std::size_t kTotalSamplesAt = 0x18;
constexpr std::size_t kLoopOffsetAt = 0x1C;
constexpr std::size_t kLoopSamplesAt = 0x20;
constexpr std::size_t kDataOffsetAt = 0x34;
constexpr std::size_t kDmgClockAt = 0x80;
constexpr std::uint32_t kVersion = 0x161;
constexpr std::uint32_t kGd3Version = 0x100;

// Commands.
constexpr std::uint8_t kDmgWrite = 0xB3;  // aa dd: register 0xFF10 + aa
constexpr std::uint8_t kWait = 0x61;      // nn nn samples
constexpr std::uint8_t kWait735 = 0x62;
constexpr std::uint8_t kWait882 = 0x63;
constexpr std::uint8_t kWaitShort = 0x70;  // 0x7n: n + 1 samples
constexpr std::uint8_t kEndOfData = 0x66;
constexpr std::int64_t kMaxWait = 0xFFFF;
constexpr std::int64_t kMaxShortWait = 16;
constexpr std::uint8_t kFirstRegister = 0x10, kLastRegister = 0x3F;

constexpr std::string_view kSystem = "Nintendo Game Boy";
constexpr std::string_view kConverter = "qvbgb";

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void append32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.resize(bytes.size() + 4);
  put32(bytes, bytes.size() - 4, value);
}

// UTF-8 text as UTF-16LE with its terminating zero; a byte that starts no
// character (or a character written too long) becomes U+FFFD.
void appendUtf16(std::vector<std::uint8_t>& out, std::string_view text) {
  const auto unit = [&out](std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80             ? 0
                      : (lead & 0xE0) == 0xC0 ? 1
                      : (lead & 0xF0) == 0xE0 ? 2
                      : (lead & 0xF8) == 0xF0 ? 3
                                              : -1;
    std::uint32_t code = extra == 0 ? lead : extra == 1 ? (lead & 0x1Fu) : extra == 2 ? (lead & 0x0Fu) : (lead & 0x07u);
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3Fu);
    }
    constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))) valid = false;
    if (!valid) {
      unit(0xFFFD);
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(0xD800 | code >> 10);
      unit(0xDC00 | (code & 0x3FF));
    } else {
      unit(code);
    }
  }
  unit(0);
}

// The commands, with the time they have reached.
class Commands {
 public:
  explicit Commands(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  void advanceTo(std::int64_t unit) {
    std::int64_t samples = (unit - now_) * kSamplesPerUnit;
    now_ = std::max(now_, unit);
    while (samples > 0) {
      if (samples == 735 || samples == 882) {
        bytes_.push_back(samples == 735 ? kWait735 : kWait882);
        return;
      }
      if (samples <= kMaxShortWait) {
        bytes_.push_back(static_cast<std::uint8_t>(kWaitShort + samples - 1));
        return;
      }
      const std::int64_t wait = std::min(samples, kMaxWait);
      bytes_.insert(bytes_.end(), {kWait, static_cast<std::uint8_t>(wait), static_cast<std::uint8_t>(wait >> 8)});
      samples -= wait;
    }
  }
  void write(std::uint8_t reg, std::uint8_t value) {
    bytes_.insert(bytes_.end(), {kDmgWrite, static_cast<std::uint8_t>(reg - kFirstRegister), value});
  }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::int64_t now_ = 0;
};

// Milliseconds as the playlist writes a time.
std::string timeText(std::int64_t ms) {
  const std::int64_t seconds = ms / 1000, fraction = ms % 1000;
  char text[48];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  std::string out = text;
  if (fraction != 0) {
    std::snprintf(text, sizeof text, ".%03lld", static_cast<long long>(fraction));
    out += text;
  }
  return out;
}

std::int64_t milliseconds(std::int64_t units) { return (units * 1000 + kUnitsPerSecond / 2) / kUnitsPerSecond; }

// A field of the playlist line: the commas and backslashes that would end or
// escape it preceded by a backslash, line breaks as spaces.
std::string playlistText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ',' || c == '\\') out += '\\';
    out += c == '\n' || c == '\r' ? ' ' : c;
  }
  return out;
}

}  // namespace

GbPlayout playout(const GbSong& song) {
  GbPlayout out;
  const GbSongLoop loop = songLoop(song);
  if (loop.loops) {
    out.loopStartUnit = loop.startUnit;
    out.endUnit = loop.startUnit + loop.lengthUnits;
    return out;
  }
  out.cut = std::any_of(song.performance.begin(), song.performance.end(),
                        [](const ChannelPerformance& perf) { return perf.loopStart >= 0 && perf.loopUnits > 0; });
  if (out.cut) {
    out.endUnit = kMaxUnsharedUnits;
    return out;
  }
  // A channel that loops without a change holds its last note for ever: the
  // tail is looped, so that a player keeps it sounding.
  const bool holds = std::any_of(song.performance.begin(), song.performance.end(), [](const ChannelPerformance& perf) {
    return !perf.moments.empty() && perf.moments.back().state.sounding();
  });
  if (holds) out.loopStartUnit = loop.endUnit;
  out.endUnit = loop.endUnit + kTailUnits;
  return out;
}

VgmFile makeVgm(const GbSong& song) {
  VgmFile file;
  if (!song.ok) {
    file.refusal = song.refusal;
    return file;
  }
  const GbPlayout play = playout(song);
  if (play.endUnit * kSamplesPerUnit > std::numeric_limits<std::uint32_t>::max()) {
    file.refusal = "the song plays longer than a VGM file counts samples";
    return file;
  }
  if (play.cut)
    file.warning = "the channels' loops come round together only after over " +
                   std::to_string(kMaxSharedLoopUnits / kUnitsPerSecond / 60) +
                   " minutes: the VGM file holds the first " +
                   std::to_string(kMaxUnsharedUnits / kUnitsPerSecond / 60) + " minutes, without a loop";

  std::vector<std::uint8_t>& bytes = file.bytes;
  bytes.assign(kHeaderSize, 0);
  Commands commands(bytes);
  // A loop's writes repeat after its start's own: the loop runs from just
  // after them to the writes at its end, which bring every channel back.
  const std::vector<GbRegisterWrite> writes = registerWrites(song, play.loops() ? play.endUnit + 1 : play.endUnit);
  std::size_t loopAt = 0;
  const auto markLoop = [&] {
    commands.advanceTo(play.loopStartUnit);
    loopAt = bytes.size();
  };
  for (const GbRegisterWrite& write : writes) {
    if (write.reg < kFirstRegister || write.reg > kLastRegister) {
      file.refusal = "a write outside the sound registers";
      return file;
    }
    if (play.loops() && loopAt == 0 && write.unit > play.loopStartUnit) markLoop();
    commands.advanceTo(write.unit);
    commands.write(write.reg, write.value);
    if (bytes.size() > kMaxVgmBytes) break;
  }
  if (play.loops() && loopAt == 0) markLoop();
  commands.advanceTo(play.endUnit);
  bytes.push_back(kEndOfData);

  const std::size_t gd3At = bytes.size();
  bytes.insert(bytes.end(), {'G', 'd', '3', ' '});
  append32(bytes, kGd3Version);
  append32(bytes, 0);  // the strings' length, once written
  // Track, game, system and author names (English, then Japanese), date, converter, notes.
  const std::string_view strings[] = {song.title, "", "", "", kSystem, "", song.composer, "", "", kConverter, ""};
  for (std::string_view text : strings) appendUtf16(bytes, text);
  if (bytes.size() > kMaxVgmBytes) {
    file.refusal = "the VGM file would take over " + std::to_string(kMaxVgmBytes >> 20) + " MB";
    bytes.clear();
    return file;
  }
  put32(bytes, gd3At + 8, static_cast<std::uint32_t>(bytes.size() - gd3At - 12));

  bytes[0] = 'V', bytes[1] = 'g', bytes[2] = 'm', bytes[3] = ' ';
  put32(bytes, kEofOffsetAt, static_cast<std::uint32_t>(bytes.size() - kEofOffsetAt));
  put32(bytes, kVersionAt, kVersion);
  put32(bytes, kGd3OffsetAt, static_cast<std::uint32_t>(gd3At - kGd3OffsetAt));
  put32(bytes, kTotalSamplesAt, static_cast<std::uint32_t>(play.endUnit * kSamplesPerUnit));
  if (play.loops()) {
    put32(bytes, kLoopOffsetAt, static_cast<std::uint32_t>(loopAt - kLoopOffsetAt));
    put32(bytes, kLoopSamplesAt, static_cast<std::uint32_t>((play.endUnit - play.loopStartUnit) * kSamplesPerUnit));
  }
  put32(bytes, kDataOffsetAt, static_cast<std::uint32_t>(kHeaderSize - kDataOffsetAt));
  put32(bytes, kDmgClockAt, kDmgClock);
  file.ok = true;
  return file;
}

std::string playlistLine(const GbSong& song, const std::string& gbsName) {
  const GbPlayout play = playout(song);
  std::string line = playlistText(gbsName) + "::GBS,1," + playlistText(song.title) + ",";
  if (play.loops()) {
    const std::int64_t loop = play.endUnit - play.loopStartUnit;
    line += timeText(milliseconds(play.endUnit + loop)) + "," + timeText(milliseconds(loop)) + ",";
  } else {
    line += timeText(milliseconds(play.endUnit)) + ",,";
  }
  line += timeText((play.loops() || play.cut ? kPlaylistFadeSeconds : 0) * 1000);
  return line;
}

}  // namespace qvb::gb
