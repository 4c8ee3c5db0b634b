#include "compiler/preprocess.h"

#include "compiler/compile_errors.h"

#include <array>
#include <string_view>

namespace qvb {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

bool takesNextByte(std::uint8_t b) { return b == '\\' || b >= 0x80; }

// Bytes that need no more than a step of the column: outside a comment every
// byte but these passes as it stands, inside one it is removed. The walk
// skips runs of them in a tight loop.
constexpr std::array<bool, 256> ordinaryBytes(std::string_view special) {
  std::array<bool, 256> ordinary{};
  for (int b = 0; b < 0x80; ++b) ordinary[static_cast<std::size_t>(b)] = true;
  for (const char b : special) ordinary[static_cast<std::uint8_t>(b)] = false;
  return ordinary;
}
constexpr std::array<bool, 256> kOrdinaryText = ordinaryBytes(std::string_view("\0\r\n\\\t#{}", 9));
constexpr std::array<bool, 256> kOrdinaryComment = ordinaryBytes(std::string_view("\0\r\n\\{}", 7));

}  // namespace

int preprocess(std::span<std::uint8_t> copy, std::int32_t& errorLine, std::int32_t& errorRow,
               std::vector<SwallowedByte>* swallowed) {
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
  const auto taken = [&](std::uint8_t lead) {
    if (swallowed != nullptr && lead >= 0x80 && (p[i] == '>' || p[i] == '}')) swallowed->push_back({line, row, p[i]});
  };

  for (;;) {
    const std::size_t runStart = i;
    if (depth == 0) {
      while (kOrdinaryText[p[i]]) ++i;
    } else {
      while (kOrdinaryComment[p[i]]) p[i++] = 0;
    }
    row += static_cast<std::int32_t>(i - runStart);
    if (p[i] == 0) break;
    const std::uint8_t b = p[i];
    if (depth == 0) {
      if (takesNextByte(b)) {
        if (i + 1 < textEnd) {
          ++i;
          ++row;
          taken(b);
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
          taken(b);
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
