// The token scans on plain source bytes, shared by the reader's runs and the
// command compiler's direct reads: a number and dots, read as readInt() and
// countDots() read them, blanks allowed anywhere. Each scan stops at the
// first byte it cannot take, which a line end always is, so none leaves its
// line; the caller decides whether that byte lies where it may read.
#pragma once

#include <climits>
#include <cstdint>

namespace qvb::scan {

inline bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Digits beyond this magnitude cannot change whether a number fits in 32
// bits, so accumulating stops growing there.
inline constexpr std::uint64_t kMagnitudeCap = std::uint64_t{INT32_MAX} + 2;

inline std::uint64_t addDigit(std::uint64_t magnitude, int digit) {
  const std::uint64_t next = magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
  return next < kMagnitudeCap ? next : kMagnitudeCap;
}

struct Number {
  std::uint64_t magnitude = 0;  // saturated at kMagnitudeCap
  bool negative = false;
  bool digits = false;  // false: no digit stood there (a '-' is still taken)
};

// Blanks, an optional '-', blanks, then digits with blanks between and after
// them.
inline const std::uint8_t* number(const std::uint8_t* p, Number& n) {
  n = Number{};
  while (*p == ' ') ++p;
  if (*p == '-') {
    n.negative = true;
    ++p;
    while (*p == ' ') ++p;
  }
  while (isDigit(*p)) {
    n.magnitude = addDigit(n.magnitude, *p++);
    n.digits = true;
    while (*p == ' ') ++p;
  }
  return p;
}

// Dots and blanks, counting the dots.
inline const std::uint8_t* dots(const std::uint8_t* p, int& count) {
  count = 0;
  for (; *p == '.' || *p == ' '; ++p) count += *p == '.' ? 1 : 0;
  return p;
}

}  // namespace qvb::scan
