// Positions in an open song's text. The text is bytes (UTF-8, mostly ASCII);
// the compiler counts 1-based lines and byte columns, while an editor counts
// 0-based lines and characters in the encoding agreed at initialize: UTF-16
// code units unless the editor takes UTF-8 bytes. TextLines converts between
// the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qvb::lsp {

enum class PositionEncoding { Utf16, Utf8 };

// As the editor counts: 0-based line, and character in the encoding.
struct Position {
  std::int64_t line = 0;
  std::int64_t character = 0;
  bool operator==(const Position&) const = default;
};

struct Range {
  Position start, end;
  bool operator==(const Range&) const = default;
};

class TextLines {
 public:
  // The text must outlive this object.
  explicit TextLines(std::string_view text);

  std::size_t lineCount() const { return starts_.size(); }
  // The bytes of a 0-based line without its line end (LF, or CR LF).
  std::string_view line(std::size_t index) const;
  std::size_t lineStart(std::size_t index) const { return starts_[index]; }

  // The byte offset of a position; nothing when its line lies past the end.
  // A character past the line's end (or inside a character) is taken to the
  // line's end (to the start of that character), as editors expect.
  std::optional<std::size_t> offsetOf(Position position, PositionEncoding encoding) const;
  // The position of a byte offset (clamped to the text).
  Position positionOf(std::size_t offset, PositionEncoding encoding) const;
  // A 0-based line and byte column, clamped to the line.
  Position positionAt(std::size_t line, std::size_t byteColumn, PositionEncoding encoding) const;

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

}  // namespace qvb::lsp
