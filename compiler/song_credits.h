// Who wrote a song and who holds it: `#COMPOSER <text>` and `#COPYRIGHT
// <text>`, header lines that our tools read from a source (qvbgb puts them
// into GBS and VGM files). The compiler knows neither directive and refuses
// it as any other it does not know, so the tools read them first and compile
// the text with each written over by a directive that does nothing: the
// image is the one the source makes without them, and every other byte keeps
// its line and row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvb {

struct SongCredits {
  // The text between '<' and '>', a backslash taking the next byte as it
  // is; a later directive replaces an earlier one. Empty when none.
  std::string composer, copyright;
  // Where each directive lies: from its '#' to its '>'.
  struct Span {
    std::size_t begin = 0, end = 0;
  };
  std::vector<Span> spans;
};

// The credits of a source. A directive counts where the compiler would take
// it for one: first on its line (after blanks and comments), outside a
// comment, before any #END, its text closed on the same line without a brace
// or #END in it. Any other is left to the compiler, which refuses it.
SongCredits readCredits(std::span<const std::uint8_t> text);

// The text with the credits' directives written over by `#TITLE <>` and
// blanks: a directive line that adds nothing, of the same length.
std::vector<std::uint8_t> withoutCredits(std::span<const std::uint8_t> text, const SongCredits& credits);

}  // namespace qvb
