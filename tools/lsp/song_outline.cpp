#include "lsp/song_outline.h"

#include <array>
#include <cctype>

#include "lsp/song_tokens.h"

namespace qvb::lsp {
namespace {

// A directive's arguments, shortened for a list.
std::string detailOf(std::string_view rest) {
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  constexpr std::size_t kMaxDetail = 60;
  std::string text(rest.substr(0, kMaxDetail));
  if (rest.size() > kMaxDetail) text += "...";
  return text;
}

std::string upper(std::string_view word) {
  std::string text;
  for (const char c : word) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The comment depth after a line, from the depth before it.
int depthAfter(std::string_view line, int depth) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\') ++i;
    else if (line[i] == '{') ++depth;
    else if (line[i] == '}' && depth > 0) --depth;
  }
  return depth;
}

}  // namespace

std::vector<OutlineItem> songOutline(const TextLines& lines) {
  std::vector<OutlineItem> items;
  std::array<std::ptrdiff_t, 26> channelItem;
  channelItem.fill(-1);
  std::ptrdiff_t open = -1;  // the channel item whose first piece goes on
  int depth = 0;
  for (std::size_t i = 0; i < lines.lineCount(); ++i) {
    const std::string_view line = lines.line(i);
    const bool inComment = depth > 0;
    depth = depthAfter(line, depth);
    if (inComment) continue;
    const LineKind kind = lineKind(line);
    if (kind == LineKind::Music) {
      const bool blank = line.find_first_not_of(" \t") == std::string_view::npos;
      if (open >= 0 && !blank) items[static_cast<std::size_t>(open)].lastLine = i;
      continue;
    }
    open = -1;
    const std::size_t end = commandEnd(line, 0);
    const std::string word = upper(line.substr(0, end));
    if (kind == LineKind::Marker) {
      const auto letter = static_cast<std::size_t>(word[1] - 'A');
      if (letter >= 26 || channelItem[letter] >= 0) continue;  // a later piece of a channel, or no channel
      channelItem[letter] = static_cast<std::ptrdiff_t>(items.size());
      open = channelItem[letter];
      items.push_back({OutlineKind::Channel, "channel " + std::string(1, word[1]), {}, i, i, end});
      continue;
    }
    if (word == "#END") break;
    if (word == "#WAV") {
      const std::string rest = detailOf(line.substr(end));
      items.push_back({OutlineKind::Wave, "#WAV " + rest.substr(0, rest.find(',')), rest, i, i, end});
      continue;
    }
    items.push_back({OutlineKind::Directive, word, detailOf(line.substr(end)), i, i, end});
  }
  return items;
}

}  // namespace qvb::lsp
