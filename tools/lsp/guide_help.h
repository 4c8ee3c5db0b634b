// The help for the song language's commands and directives, as the user's
// guide (docs/mml-guide.md) tables give it: read from the guide at build
// time (guide_help_gen), so hover and completion never say other than the
// guide.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvb::lsp {

struct HelpEntry {
  std::string_view key;      // "#TITLE", "v", "mp", "c", "length", "+", ...
  std::string_view usage;    // the guide's first column: "#TITLE <text>", "v n"
  std::string_view range;    // "0..15; alone: 10" (sound commands only)
  std::string_view text;     // what it does
  std::string_view example;
};

// Every row, in the guide's order (a key may have more than one: `v n`, `v r,l`).
std::span<const HelpEntry> helpEntries();
// The rows of one key, in the guide's order.
std::vector<const HelpEntry*> helpFor(std::string_view key);
// The key a command's text is helped under: "#title" -> "#TITLE",
// "mp30,3" -> "mp", "v12" -> "v"; empty when it has none.
std::string helpKeyOf(std::string_view command);
// Markdown for a hover: each row's usage, range and meaning.
std::string helpMarkdown(std::string_view key);

}  // namespace qvb::lsp
