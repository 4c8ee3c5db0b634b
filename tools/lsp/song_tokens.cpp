#include "lsp/song_tokens.h"

#include <cctype>

namespace qvb::lsp {
namespace {

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::size_t skipWhile(std::string_view line, std::size_t at, auto take) {
  while (at < line.size() && take(line[at])) ++at;
  return at;
}

bool isNumberPart(char c) { return isDigit(c) || c == ',' || c == '-' || c == '+'; }

}  // namespace

std::size_t commandEnd(std::string_view line, std::size_t start) {
  if (start >= line.size()) return line.size();
  const char c = line[start];
  const char next = start + 1 < line.size() ? line[start + 1] : '\0';
  std::size_t at = start + 1;
  switch (c) {
    case '#': return skipWhile(line, at, isLetter);
    case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': case 'g': case 'r':
      at = skipWhile(line, at, [](char x) { return x == '+' || x == '#' || x == '-'; });
      at = skipWhile(line, at, [](char x) { return isDigit(x) || x == '.'; });
      while (at < line.size() && line[at] == '^')
        at = skipWhile(line, at + 1, [](char x) { return isDigit(x) || x == '.'; });
      return at;
    case 'm':
      if (next == 'p') ++at;
      return skipWhile(line, at, isNumberPart);
    case '/':
      if (next == ':') return skipWhile(line, at + 1, isDigit);
      return at;
    case ':': return next == '/' ? at + 1 : at;
    case '[': return skipWhile(line, at, isDigit);
    case 'o': case 'l': case 'q': case 't': case 'v': case 's': case 'k': case '@': case '%':
      return skipWhile(line, at, [](char x) { return isNumberPart(x) || x == '.'; });
    default: return at;
  }
}

LineKind lineKind(std::string_view line) {
  if (line.empty() || line[0] != '#') return LineKind::Music;
  const std::size_t word = commandEnd(line, 0);
  return word == 2 ? LineKind::Marker : LineKind::Directive;
}

std::optional<LineToken> tokenAt(std::string_view line, std::size_t column) {
  std::size_t at = 0;
  const LineKind kind = lineKind(line);
  if (kind != LineKind::Music) {
    const std::size_t end = commandEnd(line, 0);
    if (column < end) return LineToken{0, end, line.substr(0, end)};
    if (kind == LineKind::Directive) return std::nullopt;
    at = end;
  }
  int depth = 0;
  while (at < line.size() && at <= column) {
    const char c = line[at];
    if (c == '{') ++depth;
    if (depth > 0 || isBlank(c) || c == '\\') {
      if (c == '}' && depth > 0) --depth;
      at += c == '\\' ? 2 : 1;
      continue;
    }
    const std::size_t end = commandEnd(line, at);
    if (column < end) return LineToken{at, end, line.substr(at, end - at)};
    at = end;
  }
  return std::nullopt;
}

}  // namespace qvb::lsp
