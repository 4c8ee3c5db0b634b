#include "compiler/preprocess.h"

#include "compiler/compile_errors.h"

namespace qvb {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

bool takesNextByte(std::uint8_t b) { return b == '\\' || b >= 0x80; }

}  // namespace

int preprocess(std::span<std::uint8_t> copy, std::int32_t& errorLine, std::int32_t& errorRow) {
  if (copy.size() < 2) return ERR_MEMORY;  // not a work copy
  std::uint8_t* p = copy.data();
  // The byte after an escape or a two-byte lead is taken along unexamined, but
  // never one of the two closing bytes: an escape as the last byte of the text
  // must not carry the walk past the end of the copy.
  const std::size_t textEnd = copy.size() - 2;
  std::size_t i = 0;
  std::int32_t line = 1;
  std::int32_t row = 1;
  int depth = 0;

  while (p[i] != 0) {
    const std::uint8_t b = p[i];
    if (depth == 0) {
      if (takesNextByte(b)) {
        if (i + 1 < textEnd) {
          ++i;
          ++row;
        }
      } else if (b == '\t') {
        p[i] = ' ';
      } else if (b == '#' && p[i + 1] == 'E' && p[i + 2] == 'N' && p[i + 3] == 'D') {
        p[i] = 0;
        p[i + 1] = 0;
        ++i;  // the walk ends at the 'E', where the end mark goes
        break;
      } else if (b == '{') {
        p[i] = 0;
        depth = 1;
      } else if (b == '}') {
        p[i] = 0;
        errorLine = line;
        errorRow = row;
        return ERR_BRACE;
      }
    } else {
      if (takesNextByte(b)) {
        p[i] = 0;
        if (i + 1 < textEnd) {
          ++i;
          ++row;
        }
      } else if (b == '{') {
        ++depth;
      } else if (b == '}') {
        --depth;
      }
      if (p[i] != kCr && p[i] != kLf) p[i] = 0;
    }

    if (p[i] == kLf) {
      p[i] = kCr;
      ++line;
      row = 0;
    } else if (p[i] == kCr && p[i + 1] == kLf) {
      p[i + 1] = 0;
      ++i;
      ++line;
      row = 0;
    }
    ++row;
    ++i;
  }

  p[i] = kLf;
  p[i + 1] = kLf;
  if (depth > 0) {
    errorLine = line;
    errorRow = row;
    return ERR_COMMENT_OPEN;
  }
  return 0;
}

}  // namespace qvb
