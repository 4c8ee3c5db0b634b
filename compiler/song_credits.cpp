#include "compiler/song_credits.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace qvb {
namespace {

constexpr std::string_view kNeutral = "#TITLE <>";

bool lineEnd(std::uint8_t b) { return b == '\n' || b == '\r'; }
bool blank(std::uint8_t b) { return b == ' ' || b == '\t'; }
// The compiler takes the byte after these along unexamined.
bool takesNextByte(std::uint8_t b) { return b == '\\' || b >= 0x80; }

bool startsWith(std::span<const std::uint8_t> text, std::size_t at, std::string_view word) {
  return text.size() - at >= word.size() && std::equal(word.begin(), word.end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                                                       [](char w, std::uint8_t b) { return static_cast<std::uint8_t>(w) == b; });
}

// The credit whose '#' is at `at`, kept in `credits`; the place of its '>',
// or nothing when no credit begins there.
std::optional<std::size_t> readCredit(std::span<const std::uint8_t> text, std::size_t at, SongCredits& credits) {
  std::string* field = nullptr;
  std::size_t k = at;
  if (startsWith(text, at, "#COMPOSER")) {
    field = &credits.composer;
    k += 9;
  } else if (startsWith(text, at, "#COPYRIGHT")) {
    field = &credits.copyright;
    k += 10;
  } else {
    return std::nullopt;
  }
  while (k < text.size() && blank(text[k])) ++k;
  if (k >= text.size() || text[k] != '<') return std::nullopt;
  std::string value;
  for (++k; k < text.size(); ++k) {
    const std::uint8_t b = text[k];
    if (b == '>') {
      *field = std::move(value);
      credits.spans.push_back({at, k + 1});
      return k;
    }
    // What would change the reading of the rest of the text stays for the compiler.
    if (b == 0 || lineEnd(b) || b == '{' || b == '}' || startsWith(text, k, "#END")) return std::nullopt;
    if (takesNextByte(b)) {
      if (k + 1 >= text.size() || text[k + 1] == 0 || lineEnd(text[k + 1])) return std::nullopt;
      if (b != '\\') value.push_back(static_cast<char>(b));
      ++k;
    }
    value.push_back(static_cast<char>(text[k]));
  }
  return std::nullopt;
}

}  // namespace

// The walk of the compiler's preprocessing: comments nest, a backslash or a
// byte of 0x80 and up takes the next byte along (in comments too), a zero
// byte ends the text, and so does #END outside a comment.
SongCredits readCredits(std::span<const std::uint8_t> text) {
  SongCredits credits;
  int depth = 0;
  bool lineStart = true;  // only blanks and comments since the line began
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t b = text[i];
    if (b == 0) break;
    if (lineEnd(b)) {
      lineStart = true;
      continue;
    }
    if (depth == 0) {
      if (b == '#' && startsWith(text, i, "#END")) break;
      if (b == '{') {
        depth = 1;
        continue;
      }
      if (blank(b)) continue;
      if (b == '#' && lineStart) {
        if (const std::optional<std::size_t> close = readCredit(text, i, credits)) {
          i = *close;
          lineStart = false;
          continue;
        }
      }
      lineStart = false;
    } else if (b == '{') {
      ++depth;
    } else if (b == '}') {
      --depth;
    }
    if (takesNextByte(b) && i + 1 < text.size() && !lineEnd(text[i + 1])) ++i;
  }
  return credits;
}

std::vector<std::uint8_t> withoutCredits(std::span<const std::uint8_t> text, const SongCredits& credits) {
  std::vector<std::uint8_t> out(text.begin(), text.end());
  for (const SongCredits::Span& span : credits.spans) {
    // A directive line, so that the lines after it stay in the header as
    // they are after the credit (a blank line would join them to a channel).
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(span.begin), out.begin() + static_cast<std::ptrdiff_t>(span.end), ' ');
    std::copy(kNeutral.begin(), kNeutral.end(), out.begin() + static_cast<std::ptrdiff_t>(span.begin));
  }
  return out;
}

}  // namespace qvb
