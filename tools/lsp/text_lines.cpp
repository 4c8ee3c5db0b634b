#include "lsp/text_lines.h"

#include <algorithm>

namespace qvb::lsp {
namespace {

// The bytes of the UTF-8 character a lead byte starts (1 for a stray byte),
// and the UTF-16 code units it takes.
std::size_t sequenceBytes(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::size_t utf16Units(std::size_t bytes) { return bytes == 4 ? 2 : 1; }

}  // namespace

TextLines::TextLines(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') starts_.push_back(i + 1);
}

std::string_view TextLines::line(std::size_t index) const {
  const std::size_t start = starts_[index];
  std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] - 1 : text_.size();
  if (end > start && text_[end - 1] == '\r') --end;
  return text_.substr(start, end - start);
}

std::optional<std::size_t> TextLines::offsetOf(Position position, PositionEncoding encoding) const {
  if (position.line < 0 || position.character < 0 || static_cast<std::uint64_t>(position.line) >= starts_.size())
    return std::nullopt;
  const std::string_view bytes = line(static_cast<std::size_t>(position.line));
  std::size_t at = 0;
  std::int64_t counted = 0;
  while (at < bytes.size()) {
    const std::size_t n = std::min(sequenceBytes(static_cast<unsigned char>(bytes[at])), bytes.size() - at);
    const std::int64_t units = encoding == PositionEncoding::Utf8 ? static_cast<std::int64_t>(n)
                                                                  : static_cast<std::int64_t>(utf16Units(n));
    if (counted + units > position.character) break;
    counted += units;
    at += n;
  }
  return starts_[static_cast<std::size_t>(position.line)] + at;
}

Position TextLines::positionAt(std::size_t lineIndex, std::size_t byteColumn, PositionEncoding encoding) const {
  lineIndex = std::min(lineIndex, starts_.size() - 1);
  const std::string_view bytes = line(lineIndex);
  byteColumn = std::min(byteColumn, bytes.size());
  if (encoding == PositionEncoding::Utf8)
    return {static_cast<std::int64_t>(lineIndex), static_cast<std::int64_t>(byteColumn)};
  std::int64_t units = 0;
  for (std::size_t at = 0; at < byteColumn;) {
    const std::size_t n = std::min(sequenceBytes(static_cast<unsigned char>(bytes[at])), bytes.size() - at);
    units += static_cast<std::int64_t>(utf16Units(n));
    at += n;
  }
  return {static_cast<std::int64_t>(lineIndex), units};
}

Position TextLines::positionOf(std::size_t offset, PositionEncoding encoding) const {
  offset = std::min(offset, text_.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const std::size_t lineIndex = static_cast<std::size_t>(after - starts_.begin()) - 1;
  return positionAt(lineIndex, offset - starts_[lineIndex], encoding);
}

}  // namespace qvb::lsp
