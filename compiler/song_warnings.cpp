#include "compiler/song_warnings.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "compiler/mml_compiler.h"
#include "compiler/line_index.h"
#include "compiler/preprocess.h"
#include "compiler/song_credits.h"
#include "song/channel_letters.h"
#include "song/qvb_format.h"
#include "song/track_commands.h"
#include "sound/voice.h"

namespace qvb {
namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
// The largest magnitudes in the voices' tables: the noise table and #WAV
// samples reach 128, the sine table 64.
constexpr int kNoisePeak = 128, kWavePeak = 128, kSinePeak = 64;

// The loudest level a voice of this type plays at a volume byte.
std::int32_t peakLevel(int type, int volume) {
  switch (type) {
    case Noise: return tableMultiplier(volume) * kNoisePeak;
    case Sine: return tableMultiplier(volume) * kSinePeak;
    case Wave: return tableMultiplier(volume) * kWavePeak;
    default: return pulseLevel(volume);
  }
}

// What one channel block does, read item by item.
struct ChannelFacts {
  bool notes = false;
  bool volume = false;
  std::int32_t peakLeft = 0, peakRight = 0;
  std::vector<int> waveSlots;  // timbres a wave voice used
  std::int32_t silentNote = -1;  // the block offset of a note at volume 0 never raised after it, or -1
};

ChannelFacts readChannel(std::span<const std::uint8_t> block) {
  ChannelFacts facts;
  // The voice keeps type and timbre by the player's own rules: `%` takes the
  // low four bits (the high bit is period mode) and a type above 4 is refused.
  Voice voice(nullptr);
  int left = 0, right = 0;
  const auto length = static_cast<std::int32_t>(block.size());
  for (std::int32_t at = 0; at < length;) {
    const std::int32_t itemAt = at;
    const TrackItem item = decodeItem(block.data(), length, at);
    const int value = item.operands[0];
    if (isNote(item.opcode)) {
      facts.notes = true;
      if (facts.volume && left == 0 && right == 0 && facts.silentNote < 0) facts.silentNote = itemAt;
      facts.peakLeft = std::max(facts.peakLeft, peakLevel(voice.type, left));
      facts.peakRight = std::max(facts.peakRight, peakLevel(voice.type, right));
      if (voice.type == Wave) facts.waveSlots.push_back(voice.timbre);
      continue;
    }
    switch (item.info->opcode) {
      case END: return facts;
      case VOLUME: left = right = value; break;
      case VOLUME_LEFT: left = value; break;
      case VOLUME_RIGHT: right = value; break;
      case TIMBRE: voice.timbre = value; break;
      case VOICE_TYPE: voice.SetType(static_cast<unsigned>(value & 0x0F)); break;
      default: break;
    }
    const bool level = item.opcode == VOLUME || item.opcode == VOLUME_LEFT || item.opcode == VOLUME_RIGHT;
    facts.volume = facts.volume || level;
    if (level && value != 0) facts.silentNote = -1;  // raised after it
  }
  return facts;
}

// The channel blocks and wave slots of an image the compiler just wrote.
struct ImageFacts {
  std::vector<ChannelFacts> channels;
  std::array<bool, 256> waves{};
};

bool readImage(const std::vector<std::uint8_t>& image, ImageFacts& facts) {
  const ImageView view = viewImage(image);
  if (!view.ok()) return false;
  for (const std::span<const std::uint8_t> block : view.channels) facts.channels.push_back(readChannel(block));
  for (std::size_t j = 0; j < view.waveCount(); ++j) facts.waves[view.waves[kWaveRecordSize * j]] = true;
  return true;
}

// Bytes that the preprocessor's walk takes along after a byte of 0x80 or
// more, where that byte is a '>' or '}': found by that walk itself.
void swallowedBytes(std::span<const std::uint8_t> text, std::vector<SongWarning>& out) {
  std::vector<std::uint8_t> copy(text.begin(), text.end());
  copy.resize(copy.size() + 2, 0);
  std::int32_t ignoredLine = 0, ignoredRow = 0;
  std::vector<SwallowedByte> swallowed;
  preprocess(copy, ignoredLine, ignoredRow, &swallowed);
  for (const SwallowedByte& s : swallowed) {
    out.push_back({s.line, s.row, std::string("the byte before this '") + static_cast<char>(s.byte) +
                                      "' takes it along, so it does nothing (a three-byte UTF-8 "
                                      "character before it? put a space between them)"});
  }
}

struct Place {
  std::int32_t line = 1, row = 1;
};

// Where a channel's lines begin, an unclosed '[' in them, and the first `@n`.
struct ChannelPlaces {
  Place start;
  bool openRepeat = false;
  Place repeat;
};

ChannelPlaces placesOf(const LineIndex& source, int channel) {
  ChannelPlaces places;
  const std::int32_t lines = source.lineCount(channel);
  if (lines > 0) places.start = {source.line(channel, 0).number, 1};
  for (std::int32_t l = 0; l < lines; ++l) {
    const SourceLine& line = source.line(channel, l);
    for (std::int32_t col = 0; line.text[col] != kCr && line.text[col] != kLf; ++col) {
      if (line.text[col] == '[') {
        places.openRepeat = true;
        places.repeat = {line.number, col + 1};
      } else if (line.text[col] == ']') {
        places.openRepeat = false;
      }
    }
  }
  return places;
}

Place timbrePlace(const LineIndex& source, int channel, int slot, Place fallback) {
  for (std::int32_t l = 0; l < source.lineCount(channel); ++l) {
    const SourceLine& line = source.line(channel, l);
    for (std::int32_t col = 0; line.text[col] != kCr && line.text[col] != kLf; ++col) {
      if (line.text[col] != '@') continue;
      std::int32_t k = col + 1;
      while (line.text[k] == ' ') ++k;
      int value = 0;
      bool digits = false;
      while (line.text[k] >= '0' && line.text[k] <= '9' && value < 1000) {
        value = value * 10 + (line.text[k++] - '0');
        digits = true;
      }
      if ((digits ? value : 0) == slot) return {line.number, col + 1};
    }
  }
  return fallback;
}

}  // namespace

std::vector<SongWarning> songWarnings(std::span<const std::uint8_t> text) {
  std::vector<SongWarning> out;
  // Said even when the text does not compile: a swallowed '>' or '}' is
  // often why (a title or comment that runs on).
  swallowedBytes(text, out);
  // Compiled, like the tools compile it, with the credits written over.
  const SongCredits credits = readCredits(text);
  std::vector<std::uint8_t> withoutThem;
  if (!credits.spans.empty()) {
    withoutThem = withoutCredits(text, credits);
    text = withoutThem;
  }
  SourceMap map;
  const MmlCompiler compiler(text.data(), static_cast<std::int32_t>(text.size()), map);
  if (compiler.status() != 0) return out;
  map.toTextRows(text);
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  compiler.copyImage(image.data());
  ImageFacts facts;
  if (!readImage(image, facts)) return out;

  // The compiler's own channel split, over its own preprocessed copy.
  std::vector<std::uint8_t> copy(text.begin(), text.end());
  copy.resize(copy.size() + 2, 0);
  std::int32_t ignoredLine = 0, ignoredRow = 0;
  LineIndex source;
  if (preprocess(copy, ignoredLine, ignoredRow) != 0 || source.split(copy.data()) != 0) return out;

  std::vector<ChannelPlaces> places;
  for (std::size_t i = 0; i < facts.channels.size(); ++i) places.push_back(placesOf(source, static_cast<int>(i) + 1));

  for (std::size_t i = 0; i < facts.channels.size(); ++i) {
    const ChannelFacts& c = facts.channels[i];
    if (c.notes && !c.volume) {
      out.push_back({places[i].start.line, places[i].start.row,
                     channelName(static_cast<int>(i)) + " plays notes but never sets a volume (v): it is silent"});
    }
  }
  for (std::size_t i = 0; i < facts.channels.size(); ++i) {
    SourcePlace note;
    if (facts.channels[i].silentNote < 0 || !map.find(static_cast<int>(i), facts.channels[i].silentNote, note)) continue;
    out.push_back({note.line, note.row,
                   channelName(static_cast<int>(i)) + " plays this note at volume 0 and never raises it: it is silent"});
  }
  for (std::size_t i = 0; i < facts.channels.size(); ++i) {
    std::vector<int> slots = facts.channels[i].waveSlots;
    std::sort(slots.begin(), slots.end());
    slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
    for (int slot : slots) {
      if (slot >= 0 && slot < 256 && facts.waves[static_cast<std::size_t>(slot)]) continue;
      const Place at = timbrePlace(source, static_cast<int>(i) + 1, slot, places[i].start);
      out.push_back({at.line, at.row,
                     channelName(static_cast<int>(i)) + " plays wave slot " + std::to_string(slot) +
                         " (@" + std::to_string(slot) + "), which no #WAV fills: it is silent"});
    }
  }
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (!places[i].openRepeat) continue;
    out.push_back({places[i].repeat.line, places[i].repeat.row,
                   "this '[' is still open at the end of " + channelName(static_cast<int>(i)) +
                       ": what follows plays once"});
  }
  // Each side sums the loudest level of every channel; the warning points at
  // the channel that takes the sum past the limit.
  for (int side = 0; side < 2; ++side) {
    std::int64_t sum = 0;
    std::size_t over = facts.channels.size();
    for (std::size_t i = 0; i < facts.channels.size(); ++i) {
      sum += side == 0 ? facts.channels[i].peakLeft : facts.channels[i].peakRight;
      if (sum > kLevelLimit && over == facts.channels.size()) over = i;
    }
    if (over == facts.channels.size()) continue;
    out.push_back({places[over].start.line, places[over].start.row,
                   std::string("the voices together can reach ") + std::to_string(sum) + " on the " +
                       (side == 0 ? "left" : "right") + ", past " + std::to_string(kLevelLimit) +
                       ", from " + channelName(static_cast<int>(over)) + " on: loud passages wrap around"});
    break;
  }
  return out;
}

std::string formatWarning(const SongWarning& w, const std::string& file) {
  return file + ":" + std::to_string(w.line) + ":" + std::to_string(w.row) + ": warning: " + w.text;
}

}  // namespace qvb
