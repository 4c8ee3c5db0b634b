// The outline of a song for the editor's symbol list: the header directives
// (#TITLE, #CHANNEL, #PRAGMA and the credits), each channel (from its first
// marker) and each #WAV definition, in the text's order. Read from the
// lines, so a song that does not compile has an outline too.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "lsp/text_lines.h"

namespace qvb::lsp {

enum class OutlineKind { Directive, Channel, Wave };

struct OutlineItem {
  OutlineKind kind = OutlineKind::Directive;
  std::string name;    // "#TITLE", "channel A", "#WAV 3"
  std::string detail;  // the rest of the directive's line; a channel's line count
  std::size_t firstLine = 0, lastLine = 0;  // 0-based, the lines it spans
  std::size_t nameEnd = 0;                  // bytes of the first line its name covers
};

std::vector<OutlineItem> songOutline(const TextLines& lines);

}  // namespace qvb::lsp
