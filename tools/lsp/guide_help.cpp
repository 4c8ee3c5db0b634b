#include "lsp/guide_help.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qvb::lsp {
namespace {

constexpr HelpEntry kEntries[] = {
#include "guide_help_table.inc"
};

}  // namespace

std::span<const HelpEntry> helpEntries() { return kEntries; }

std::vector<const HelpEntry*> helpFor(std::string_view key) {
  std::vector<const HelpEntry*> rows;
  for (const HelpEntry& entry : kEntries)
    if (entry.key == key) rows.push_back(&entry);
  return rows;
}

std::string helpKeyOf(std::string_view command) {
  if (command.empty()) return {};
  std::string key;
  if (command[0] == '#') {
    for (const char c : command) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  } else if (command.starts_with("mp")) {
    key = "mp";
  } else {
    key = std::string(1, command[0]);
  }
  return helpFor(key).empty() ? std::string{} : key;
}

std::string helpMarkdown(std::string_view key) {
  std::string text;
  for (const HelpEntry* entry : helpFor(key)) {
    if (!text.empty()) text += "\n\n";
    text += "`" + std::string(entry->usage) + "`";
    if (!entry->range.empty()) text += " (" + std::string(entry->range) + ")";
    text += ": " + std::string(entry->text);
    if (!entry->example.empty()) text += " Example: `" + std::string(entry->example) + "`";
  }
  return text;
}

}  // namespace qvb::lsp
