#include "loader/error_recovery.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <string>

#include "compiler/compile_errors.h"
#include "song/channel_letters.h"

namespace qvb {
namespace {

bool isLineEnd(std::uint8_t b) { return b == '\n' || b == '\r'; }

std::size_t lineEnd(std::span<const std::uint8_t> text, std::size_t at) {
  while (at < text.size() && !isLineEnd(text[at])) ++at;
  return at;
}

// After a '{' at `at`: the offset past its matching '}', or kNoOffset.
std::size_t pastComment(std::span<const std::uint8_t> text, std::size_t at) {
  int depth = 0;
  for (; at < text.size(); ++at) {
    if (text[at] == '{') ++depth;
    if (text[at] == '}' && --depth == 0) return at + 1;
  }
  return kNoOffset;
}

bool startsWith(std::span<const std::uint8_t> text, std::size_t at, std::string_view word) {
  return at + word.size() <= text.size() && std::equal(word.begin(), word.end(), text.begin() + static_cast<std::ptrdiff_t>(at));
}

// The partner that closes the loop or repeat opened at `at`, looked for on
// the opener's line and the lines that carry its channel on (up to a line
// that starts with '#'), comments stepped over; or kNoOffset.
std::size_t partnerOf(std::span<const std::uint8_t> text, std::size_t at, std::string_view open, std::string_view close) {
  int depth = 0;
  bool lineStart = false;
  for (std::size_t i = at; i < text.size();) {
    const std::uint8_t b = text[i];
    if (b == '\n') {
      lineStart = true;
      ++i;
      continue;
    }
    if (lineStart && b != ' ' && b != '\t' && b != '\r') {
      if (b == '#') return kNoOffset;
      lineStart = false;
    }
    if (b == '{') {
      i = pastComment(text, i);
      if (i == kNoOffset) return kNoOffset;
    } else if (startsWith(text, i, open)) {
      ++depth;
      i += open.size();
    } else if (startsWith(text, i, close)) {
      if (--depth == 0) return i;
      i += close.size();
    } else {
      ++i;
    }
  }
  return kNoOffset;
}

}  // namespace

// The offset of a 1-based line and byte row, or kNoOffset. LF ends a line, as
// the compiler counts them.
std::size_t placeOffset(std::span<const std::uint8_t> text, std::int32_t line, std::int32_t row) {
  if (line < 1 || row < 1) return kNoOffset;
  std::size_t at = 0;
  for (std::int32_t l = 1; l < line; ++l) {
    const void* lf = at < text.size() ? std::memchr(text.data() + at, '\n', text.size() - at) : nullptr;
    if (lf == nullptr) return kNoOffset;
    at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(lf) - text.data()) + 1;
  }
  at += static_cast<std::size_t>(row - 1);
  return at < text.size() ? at : kNoOffset;
}

std::size_t commandEnd(std::span<const std::uint8_t> text, std::size_t at) {
  const auto byte = [&](std::size_t i) -> std::uint8_t { return i < text.size() ? text[i] : 0; };
  const std::uint8_t word = byte(at);
  std::size_t end = at + 1;
  if ((word == 'm' && byte(end) == 'p') || (word == '/' && byte(end) == ':') || (word == ':' && byte(end) == '/')) ++end;
  for (;;) {
    const std::uint8_t b = byte(end);
    if ((b >= '0' && b <= '9') || (b != 0 && std::strchr(",+-#.^ \t", b) != nullptr)) {
      ++end;
    } else if (b == '{') {
      const std::size_t past = pastComment(text, end);
      if (past == kNoOffset) break;
      end = past;
    } else {
      break;
    }
  }
  return end;
}

bool takesDefaultLength(std::span<const std::uint8_t> text, std::size_t at) {
  if (at >= text.size() || std::string_view("abcdefgr").find(static_cast<char>(text[at])) == std::string_view::npos)
    return false;
  std::size_t i = at + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '#' || text[i] == '+' || text[i] == '-')) ++i;
  return i >= text.size() || text[i] < '0' || text[i] > '9';
}

bool ErrorRecovery::blank(const SongDiagnosis& fault, const FaultFacts& facts) {
  if (fault.problem != SongProblem::Compile) return false;
  const CompileError& e = fault.error;
  const Spot spot{e.type, e.line, e.row};
  repeats_ = spot.code == last_.code && spot.line == last_.line && spot.row == last_.row ? repeats_ + 1 : 0;
  last_ = spot;
  if (repeats_ > 1) return false;

  // Spaces over [from, to), leaving line ends and comments as they are.
  const auto spaces = [this](std::size_t from, std::size_t to) {
    int depth = 0;
    for (std::size_t i = from; i < to && i < text_.size(); ++i) {
      const std::uint8_t b = text_[i];
      if (b == '{') ++depth;
      if (depth == 0 && !isLineEnd(b) && b != '}') text_[i] = ' ';
      if (b == '}' && depth > 0) --depth;
    }
  };
  // A header item: its directive line and the lines that carry it on (up to
  // the next line that starts with '#').
  const auto blankItem = [&](std::size_t at) {
    std::size_t end = lineEnd(text_, at);
    for (;;) {
      std::size_t next = end;
      while (next < text_.size() && isLineEnd(text_[next])) ++next;
      std::size_t first = next;
      while (first < text_.size() && text_[first] == ' ') ++first;
      if (first >= text_.size() || text_[first] == '#') break;
      end = lineEnd(text_, next);
    }
    spaces(at, end);
  };
  const auto setChannelCount = [&](std::size_t at) {
    if (facts.lastChannelWithText < 1 || facts.lastChannelWithText > kMaxChannels || facts.famicom) return false;
    blankItem(at);
    const std::string directive = "#CHANNEL " + std::to_string(facts.lastChannelWithText);
    const std::size_t room = lineEnd(text_, at) - at;
    if (room < directive.size()) text_.insert(text_.begin() + static_cast<std::ptrdiff_t>(at), directive.size() - room, ' ');
    std::copy(directive.begin(), directive.end(), text_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  };

  if (fault.channel != 0) {
    const int channel = e.channel;  // 1..26
    if (e.type == ERR_MEMORY || e.type == ERR_REPEAT_LIMIT) return false;
    if (e.type == ERR_LOOP_OPEN) {
      const std::size_t open = placeOffset(text_, e.openLine, e.openRow);
      if (open == kNoOffset) return false;
      spaces(open, commandEnd(text_, open));
      return true;
    }
    const std::size_t at = placeOffset(text_, e.line, e.row);
    if (at == kNoOffset) return false;
    // A loop or repeat opened where none may be goes with its partner; when
    // that cannot be found, what the channel says after it is not shown.
    const std::uint8_t word = text_[at];
    const bool bracket = e.type == ERR_SYNTAX && word == '[';
    if ((e.type == ERR_LOOP_DEPTH || bracket) && repeats_ == 0) {
      const std::size_t partner = bracket ? partnerOf(text_, at, "[", "]") : partnerOf(text_, at, "/:", ":/");
      if (partner == kNoOffset) stopped_[static_cast<std::size_t>(channel)] = true;
      else spaces(partner, commandEnd(text_, partner));
    }
    // A default length that divides nothing faults every note that takes it.
    if (e.type == ERR_LENGTH_DIVIDE && takesDefaultLength(text_, at)) badDefault_[static_cast<std::size_t>(channel)] = true;
    // A loop count out of range goes, the loop stays (with its count of 2).
    const std::size_t from = e.type == ERR_LOOP_COUNT && repeats_ == 0 && startsWith(text_, at, "/:") ? at + 2 : at;
    spaces(from, repeats_ > 0 ? lineEnd(text_, at) : commandEnd(text_, at));
    return true;
  }

  const std::size_t at = placeOffset(text_, e.line, e.row > 0 ? e.row : 1);
  if (at == kNoOffset) return false;
  switch (e.type) {
    case ERR_BRACE:
      if (text_[at] != '}') return false;
      text_[at] = ' ';
      return true;
    case ERR_CHANNEL_MARKER: spaces(at, lineEnd(text_, at)); return true;
    case ERR_HEADER:
    case ERR_PRAGMA:
    case ERR_WAV_SYNTAX:
    case ERR_WAV_COUNT: blankItem(at); return true;
    case ERR_CHANNEL:
    case ERR_CHANNEL_COUNT: return setChannelCount(at);
    default: return false;  // no title, a comment left open, a limit of the whole text
  }
}

bool ErrorRecovery::shown(const SongDiagnosis& error) const {
  if (error.problem != SongProblem::Compile) return false;
  const CompileError& e = error.error;
  if (e.type == last_.code && e.line == last_.line && e.row == last_.row) return false;
  const auto channel = static_cast<std::size_t>(error.channel != 0 ? e.channel : 0);
  if (e.type == ERR_LENGTH_DIVIDE && badDefault_[channel] && takesDefaultLength(text_, placeOffset(text_, e.line, e.row)))
    return false;
  return !stopped_[channel];
}

}  // namespace qvb
