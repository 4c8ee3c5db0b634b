// The token scans of the compiler: blanks, a number and dots, blanks allowed
// anywhere inside them. Each works on a cursor: peek() looks at the next byte
// (or reader code) and holds it, take() consumes the held byte; a cursor's
// number() and dots() give what these scans give on it. On plain
// source bytes the cursor is a BytePointer; on the reader it is the reader
// itself, which crosses line ends, removed bytes and repeat brackets. Either
// way a scan looks at the same bytes: those it takes and the first one it
// cannot take. On plain bytes that one is at the latest the line end, so no
// scan leaves its line; the caller decides whether that byte lies where it may
// read.
#pragma once

#include <climits>
#include <cstdint>

// The scans run once or more for every command of a song: inlined into their
// callers, a BytePointer stays in a register.
#define QVB_SCAN_INLINE [[gnu::always_inline]] inline

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

  // Beyond 32 bits: the value saturates at INT32_MIN or INT32_MAX.
  bool tooBig() const { return magnitude > (negative ? std::uint64_t{INT32_MAX} + 1 : INT32_MAX); }
  std::int32_t value() const {
    if (!negative) return magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(magnitude);
    return tooBig() ? INT32_MIN : static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
  }
};

template <class Cursor>
QVB_SCAN_INLINE void blanks(Cursor& in) {
  while (in.peek() == ' ') in.take();
}

// Blanks, an optional '-', blanks, then digits with blanks between and after
// them.
template <class Cursor>
QVB_SCAN_INLINE Number number(Cursor& in) {
  Number n;
  blanks(in);
  if (in.peek() == '-') {
    n.negative = true;
    in.take();
    blanks(in);
  }
  while (isDigit(in.peek())) {
    n.magnitude = addDigit(n.magnitude, in.peek());
    n.digits = true;
    in.take();
    blanks(in);
  }
  return n;
}

// Dots and blanks: the number of dots, saturated.
template <class Cursor>
QVB_SCAN_INLINE int dots(Cursor& in) {
  int count = 0;
  for (int c = in.peek(); c == '.' || c == ' '; c = in.peek()) {
    if (c == '.' && count < INT_MAX) ++count;
    in.take();
  }
  return count;
}

// Plain bytes as a cursor.
struct BytePointer {
  const std::uint8_t* at;
  int peek() const { return *at; }
  void take() { ++at; }
  Number number() { return scan::number(*this); }
  int dots() { return scan::dots(*this); }
};

}  // namespace qvb::scan
