#include "lsp/song_places.h"

#include <charconv>
#include <string_view>

namespace qvb::lsp {
namespace {

std::string_view textOf(const ClassedToken& t, const TextLines& lines) {
  return lines.line(t.line).substr(t.start, t.end - t.start);
}

std::optional<long> numberOf(std::string_view text) {
  long value = 0;
  const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (fault != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool covers(const SongPlace& p, std::size_t line, std::size_t column) {
  return p.line == line && column >= p.start && column < p.end;
}

std::vector<SongPlace> same(const std::vector<SongPlace>& list, const SongPlace& place) {
  std::vector<SongPlace> found;
  for (const SongPlace& p : list)
    if (p.kind == place.kind && p.number == place.number) found.push_back(p);
  return found;
}

}  // namespace

SongPlaces::SongPlaces(const std::vector<ClassedToken>& tokens, const TextLines& lines) {
  // "#WAV" then its number, "@" then its number, each on one line.
  for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
    const ClassedToken& word = tokens[i];
    const ClassedToken& value = tokens[i + 1];
    if (value.kind != TokenClass::Number || value.line != word.line) continue;
    const std::string_view text = textOf(word, lines);
    const bool wave = word.kind == TokenClass::Directive && text == "#WAV";
    const bool timbre = word.kind == TokenClass::Command && text == "@";
    if (!wave && !timbre) continue;
    const std::optional<long> number = numberOf(textOf(value, lines));
    if (!number) continue;
    (wave ? definitions_ : uses_).push_back({PlaceKind::Wave, *number, word.line, word.start, value.end});
  }
}

std::optional<SongPlace> SongPlaces::at(std::size_t line, std::size_t column) const {
  for (const auto* list : {&definitions_, &uses_})
    for (const SongPlace& p : *list)
      if (covers(p, line, column)) return p;
  return std::nullopt;
}

std::vector<SongPlace> SongPlaces::definitionsOf(const SongPlace& place) const { return same(definitions_, place); }
std::vector<SongPlace> SongPlaces::usesOf(const SongPlace& place) const { return same(uses_, place); }

}  // namespace qvb::lsp
