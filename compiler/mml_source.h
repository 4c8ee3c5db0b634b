// The token reads of the compiler on its character reader: numbers, dots,
// words and argument lists, for the header parser and the command compiler.
// The number and dot reads take the run's bytes directly where the reader has
// them; the reader with these reads is also the cursor of the note grammar.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "compiler/source_reader.h"
#include "compiler/token_scan.h"

namespace qvb {

class MmlSource : public SourceReader {
 public:
  // The token scans on the reader, done on the run's bytes where it holds
  // them whole.
  scan::Number number();
  int dots();

  int matchWord(std::string_view word);
  // Optional '-' and decimal digits, blanks allowed between them. A number
  // beyond 32 bits saturates at INT32_MIN or INT32_MAX, which every range
  // check refuses, and numberTooBig() tells it from one that fits. 0 when no
  // digit stands here (a '-' stays eaten).
  int readInt(std::int32_t& value) {
    // A held character that cannot start a number ends the read at once
    // (peek() gives a held character without reading).
    if (heldNonBlank() && peek() != '-' && !scan::isDigit(peek())) {
      value = 0;
      numberTooBig_ = false;
      return 0;
    }
    return readNumber(value);
  }
  bool numberTooBig() const { return numberTooBig_; }
  int countDots() { return heldNonBlank() && peek() != '.' ? 0 : dots(); }
  // A comma list of up to values.size() numbers, any of them omitted (not
  // present); it stops at the first thing that is not one.
  void readArgs(std::span<std::int32_t> values, std::span<bool> present);

 private:
  int readNumber(std::int32_t& value);

  bool numberTooBig_ = false;
};

}  // namespace qvb
