#include "loader/error_hints.h"

#include <string>
#include <string_view>

#include "compiler/compile_errors.h"
#include "compiler/note_grammar.h"
#include "compiler/wave_def.h"
#include "loader/error_recovery.h"

namespace qvb {
namespace {

bool isDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }
bool isBlank(std::uint8_t b) { return b == ' ' || b == '\t'; }

// The letters of the commands a channel reads.
constexpr std::string_view kCommandLetters = "abcdefgrolqtvskm";

// "1, 2, 3, ... and 192": the lengths whose notes are a whole number of ticks.
std::string dividingLengths() {
  std::string list;
  for (int length = 1; length <= kWholeNote; ++length) {
    if (kWholeNote % length != 0) continue;
    if (!list.empty()) list += length == kWholeNote ? " and " : ", ";
    list += std::to_string(length);
  }
  return list;
}

void append(std::string& context, const std::string& hint) {
  context += context.empty() ? hint : "; " + hint;
}

// A command whose number runs on over a blank or a comment ("v10 8" is v108):
// what the musician wrote and what the compiler read. Empty when the number
// ends where it seems to.
std::string joinedNumber(std::span<const std::uint8_t> text, std::size_t at) {
  const std::size_t end = commandEnd(text, at);
  std::string written, read;
  bool digit = false, gap = false, joined = false;
  for (std::size_t i = at; i < end; ++i) {
    const std::uint8_t b = text[i];
    if (b == '{') {
      std::size_t close = i;
      int depth = 0;
      for (; close < end; ++close) {
        if (text[close] == '{') ++depth;
        if (text[close] == '}' && --depth == 0) break;
      }
      const std::size_t length = close - i + 1;
      written += length <= 12 ? std::string(text.begin() + static_cast<std::ptrdiff_t>(i),
                                            text.begin() + static_cast<std::ptrdiff_t>(close + 1))
                              : std::string("{...}");
      gap = digit;
      i = close;
      continue;
    }
    if (isBlank(b)) {
      written += static_cast<char>(b);
      gap = digit;
      continue;
    }
    if (isDigit(b) && gap) joined = true;
    digit = isDigit(b);
    if (!digit) gap = false;
    written += static_cast<char>(b);
    read += static_cast<char>(b);
  }
  while (!written.empty() && isBlank(static_cast<std::uint8_t>(written.back()))) written.pop_back();
  if (!joined) return {};
  return "'" + written + "' reads as " + read + ": blanks and comments do not end a number";
}

// A '^' just before the command at `at` (blanks between): its place, or 0.
std::size_t tieBefore(std::span<const std::uint8_t> text, std::size_t at) {
  while (at > 0 && isBlank(text[at - 1])) --at;
  return at > 0 && text[at - 1] == '^' ? at : 0;
}

// "LINE:ROW" of an offset earlier on the error's line.
std::string placeBefore(const CompileError& e, std::size_t at, std::size_t earlier) {
  return std::to_string(e.line) + ":" + std::to_string(e.row - static_cast<std::int32_t>(at - earlier));
}

}  // namespace

void addHint(SongDiagnosis& d, std::span<const std::uint8_t> text, const SongHeader& header) {
  const CompileError& e = d.error;
  if (e.type == ERR_WAV_COUNT) {
    const std::int32_t given = header.refusedWaveValues;
    d.context = "this #WAV gives " +
                (given >= WaveDef::kCountLimit ? "more than " + std::to_string(WaveDef::kCountLimit - 1)
                                               : std::to_string(given)) +
                " values; a wave takes exactly " + std::to_string(kWaveSampleCount);
    return;
  }
  if (d.channel == 0) return;
  const std::size_t at = placeOffset(text, e.line, e.row);
  if (at == kNoOffset) return;
  const std::uint8_t word = text[at];
  if (e.type == ERR_LENGTH_DIVIDE) {
    if (takesDefaultLength(text, at)) append(d.context, "this note takes the length that l set");
    append(d.context, "the lengths that divide a whole note are " + dividingLengths() +
                          ", and a dot needs a part of an even number of ticks");
  } else if (e.type == ERR_SYNTAX && word >= 'A' && word <= 'Z' &&
             kCommandLetters.find(static_cast<char>(word - 'A' + 'a')) != std::string_view::npos) {
    append(d.context, std::string("commands are lower case: '") + static_cast<char>(word - 'A' + 'a') + "', not '" +
                          static_cast<char>(word) + "'");
  } else if (e.type == ERR_SYNTAX && isDigit(word)) {
    append(d.context, "a number with no command before it");
  } else if (e.type <= ERR_OCTAVE && e.type >= ERR_VIBRATO) {
    const std::string joined = joinedNumber(text, at);
    if (!joined.empty()) append(d.context, joined);
  }
  if (const std::size_t tie = tieBefore(text, at); tie != 0) {
    append(d.context, "the '^' at " + placeBefore(e, at, tie - 1) +
                          " has no length, so it ties on a note of the default length (a tie's length follows it: c8^8)");
  }
}

}  // namespace qvb
