// The commands of a song line as a person sees them: where a command that
// begins at a byte ends (a note with its accidentals, length, dots and ties;
// a command with its numbers; a directive's word), and which command covers
// a byte. A light reading of one line for ranges, hover and symbols: what
// the line means is the compiler's business.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace qvb::lsp {

// The end (one past) of the command that begins at start in the line: at
// least one byte, never past the line; start itself at the line's end.
std::size_t commandEnd(std::string_view line, std::size_t start);

enum class LineKind {
  Directive,  // "#WORD ...": the rest of the line is its arguments
  Marker,     // "#A ...": channel music after the marker
  Music,      // anything else: a channel's (or a directive's) continuation
};

LineKind lineKind(std::string_view line);

struct LineToken {
  std::size_t start = 0, end = 0;  // bytes of the line
  std::string_view text;
};

// The command, directive or marker that covers the byte column of the line,
// skipping blanks and comments that open and close on the line; nothing on a
// blank or inside a comment or a directive's arguments.
std::optional<LineToken> tokenAt(std::string_view line, std::size_t column);

}  // namespace qvb::lsp
