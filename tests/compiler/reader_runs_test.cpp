// The reader's fast path (runs of plain bytes read without the full read)
// against its byte-by-byte path, on generated sources: the same track bytes,
// status, error position and work counts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "compiler/channel_buffers.h"
#include "compiler/mml_source.h"
#include "compiler/preprocess.h"
#include "compiler/song_header.h"
#include "compiler/track_compiler.h"
#include "song/track_commands.h"

namespace qvb {
namespace {

struct Outcome {
  int code = 0;
  std::vector<std::vector<std::uint8_t>> tracks;
  std::vector<std::vector<SourcePlace>> places;
  std::int32_t line = 0, row = 0;
  int channel = 0;
  std::uint64_t steps = 0, replayed = 0;
  bool operator==(const Outcome&) const = default;
};

// The compile's steps, with the reader's runs on or off.
Outcome compile(const std::string& text, bool runs, std::uint64_t budget) {
  Outcome out;
  std::vector<std::uint8_t> copy(text.begin(), text.end());
  copy.resize(text.size() + 2, 0);
  std::int32_t line = 0, row = 0;
  if ((out.code = preprocess(copy, line, row)) != 0) return out;
  MmlSource reader;
  reader.setPlainRuns(runs);
  if ((out.code = reader.split(copy.data())) != 0) return out;
  reader.setReplayBudget(budget);
  SongHeader header;
  out.code = parseHeader(reader, header);
  if (out.code == 0 && header.channelCount > 0 && header.channelCount <= 26) {
    ChannelBuffers tracks(header.channelCount);
    SourceMap map;
    out.code = compileTracks(reader, header, tracks, &map);
    for (std::int32_t i = 0; i < tracks.count(); ++i) {
      out.tracks.emplace_back(static_cast<std::size_t>(tracks.length(i)));
      tracks.copyTo(i, out.tracks.back().data());
      out.places.push_back(i < map.channelCount() ? map.places(i) : std::vector<SourcePlace>{});
    }
  }
  reader.position(out.line, out.row);
  out.channel = reader.channel();
  out.steps = reader.readSteps();
  out.replayed = reader.replayedBytes();
  return out;
}

// Mostly valid commands, with the bytes that end runs (brackets, line ends,
// comments, escapes) and the bytes that numbers and dots stop at mixed in.
// A tie chain longer than the longest length field holds.
const std::string kLongTieText = [] {
  std::string tie = "c1";
  for (int i = 0; i * 192 <= 65534; ++i) tie += "^1";
  return tie;
}();
const char* const kLongTie = kLongTieText.c_str();

std::string generatedSource(std::mt19937& random) {
  static const char* const kCommon[] = {
      "c", "c16", "d+8", "e-4.", "r2", "a#. .", "g1 6", "c^8", "b 8 ^ 16.", " ", "  ", "o5", "l8", "q7", "v12",
      "v,3", "s10,-2", "k-1", "mp1,2,,4", "@2", "t150", "$", "[3 c d ]", "[2  c]", "[3  r8 ]", "[2 e{x} | f8\n]", "[c]", "{x}",
      "{a\n b}", "\n", "\r\n", "\t", "/:3 c / d :/", "<", ">"};
  static const char* const kRare[] = {"[", "]", "/", ":/", "|", "[2147483647", "- 5", "99999999999", "v-",
                                      "%1", "\\", "#B ", ";", "\x80\x81", "16", "c0",
                                      // notes only the reads may take, octaves at their ends, the
                                      // buffer's first growth step
                                      "c-", "d--8", "e1025", "c5", "c64.", "c.........", "c9999999999",
                                      "q1 c64", "q15 c1.", "o8<", "o1>", "[99 cdefgab]", kLongTie,
                                      // settings out of range or spelled oddly
                                      "q0", "q17", "o9", "o-1", "l1025", "l4.........", "l 1 6 .", "q"};
  std::string text = random() % 8 == 0 ? "#TITLE <t>\n#WAV 1,<[16 1,2,]>\n#CHANNEL 2\n" : "#TITLE <t>\n#CHANNEL 2\n";
  text += "#A ";
  const std::size_t pieces = 1 + random() % 60;
  for (std::size_t i = 0; i < pieces; ++i)
    text += random() % 16 == 0 ? kRare[random() % std::size(kRare)] : kCommon[random() % std::size(kCommon)];
  return text + "\n#B c";
}

TEST(ReaderRuns, GiveWhatTheByteByByteReadsGive) {
  std::mt19937 random(20261209);
  int compiled = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string text = generatedSource(random);
    const std::uint64_t budget = random() % 4 == 0 ? random() % 64 : replayBudgetFor(text.size());
    const Outcome fast = compile(text, true, budget);
    ASSERT_EQ(fast, compile(text, false, budget)) << text;
    compiled += fast.code == 0 ? 1 : 0;
  }
  EXPECT_GT(compiled, 4000);  // the cases reach the writer, not just the errors
}

// The command letters that write an item.
std::string_view makersOf(std::uint8_t opcode) {
  if (opcode < REST) return "abcdefg";
  switch (opcode) {
    case REST: return "abcdefgr";  // a gated note's silent part too
    case VOLUME: case VOLUME_RIGHT: case VOLUME_LEFT: return "v";
    case RELEASE: case SWEEP: return "s";
    case DETUNE: return "k";
    case TEMPO: return "t";
    case VIBRATO_DELAY: case VIBRATO_DEPTH: case VIBRATO_RATE: case VIBRATO_STEP: case VIBRATO_GROWTH: return "m";
    case LOOP_MARK: return "$";
    case REPEAT_START: case REPEAT_BREAK: return "/";
    case REPEAT_END: return ":";
    case TIMBRE: return "@";
    case VOICE_TYPE: return "%";
    default: return "";
  }
}

// The byte at a 1-based line and row of the text, or 0 outside it.
char textAt(const std::string& text, std::int32_t line, std::int32_t row) {
  std::size_t at = 0;
  for (std::int32_t l = 1; l < line && at != std::string::npos; ++l) {
    at = text.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  if (at == std::string::npos || row < 1) return 0;
  const std::size_t end = text.find('\n', at);
  const std::size_t length = (end == std::string::npos ? text.size() : end) - at;
  return static_cast<std::size_t>(row) <= length ? text[at + static_cast<std::size_t>(row) - 1] : 0;
}

TEST(SourceMap, MapsEveryItemToTheCommandThatWroteItWithRunsOnOrOff) {
  std::mt19937 random(20261210);
  int items = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = generatedSource(random);
    const Outcome fast = compile(text, true, replayBudgetFor(text.size()));
    if (fast.code != 0) continue;
    ASSERT_EQ(fast.places, compile(text, false, replayBudgetFor(text.size())).places) << text;
    for (std::size_t c = 0; c < fast.tracks.size(); ++c) {
      SourceMap map;
      for (const SourcePlace& p : fast.places[c]) map.add(static_cast<int>(c), p.offset, p.line, p.row);
      map.toTextRows({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
      const auto& block = fast.tracks[c];
      for (std::int32_t pos = 0; pos < static_cast<std::int32_t>(block.size());) {
        const std::int32_t at = pos;
        const TrackItem item = decodeItem(block.data(), static_cast<std::int32_t>(block.size()), pos);
        if (item.opcode == END) continue;
        SourcePlace place;
        ASSERT_TRUE(map.find(static_cast<int>(c), at, place)) << text << "\nchannel " << c << " offset " << at;
        const char maker = textAt(text, place.line, place.row);
        EXPECT_NE(makersOf(item.opcode).find(maker), std::string_view::npos)
            << text << "\nitem " << int{item.opcode} << " at " << place.line << ":" << place.row << " '" << maker << "'";
        ++items;
      }
    }
    if (HasFailure()) return;
  }
  EXPECT_GT(items, 20000);
}

}  // namespace
}  // namespace qvb
