// The classes of a song's tokens, as the page's editor colours them
// (web/site/qvm_language.js): directives, channel markers, notes, rests,
// lengths, commands, numbers, octave steps, repeat brackets, loops, the loop
// mark, comments, titles, pragma words and what is invalid. The same
// line-by-line reading as the page's, carrying its state across line ends
// (comments, titles and lengths go on over them), so both colour alike.
#pragma once

#include <cstddef>
#include <vector>

#include "lsp/text_lines.h"

namespace qvb::lsp {

enum class TokenClass {
  Directive, Marker, Note, Rest, Length, Command, Number, Octave, Repeat, Loop, LoopMark, Comment, Title,
  Invalid, Word,
};

struct ClassedToken {
  std::size_t line = 0, start = 0, end = 0;  // a 0-based line and its bytes
  TokenClass kind = TokenClass::Invalid;
  bool operator==(const ClassedToken&) const = default;
};

// Every token of the text in order, none empty, none across a line end.
std::vector<ClassedToken> classifySong(const TextLines& lines);

}  // namespace qvb::lsp
