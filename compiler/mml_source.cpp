#include "compiler/mml_source.h"

namespace qvb {

int MmlSource::matchWord(std::string_view word) {
  for (const char letter : word)
    if (getNonBlank() != static_cast<unsigned char>(letter)) return 0;
  return 1;
}

int MmlSource::readNumber(std::int32_t& value) {
  const scan::Number read = number();
  value = read.digits ? read.value() : 0;
  numberTooBig_ = read.digits && read.tooBig();
  return read.digits ? 1 : 0;
}

// The scans go on the run's bytes directly where they stop inside it: the
// byte that ends them is taken and held, as the reads through peek() would
// leave it. They stop at a line end at the latest.
scan::Number MmlSource::number() {
  scan::Number read;
  if (scanInRun([&read](scan::BytePointer& in) { read = scan::number(in); })) return read;
  return scan::number(*this);
}

int MmlSource::dots() {
  int count = 0;
  if (scanInRun([&count](scan::BytePointer& in) { count = scan::dots(in); })) return count;
  return scan::dots(*this);
}

void MmlSource::readArgs(std::span<std::int32_t> values, std::span<bool> present) {
  const std::size_t n = values.size() < present.size() ? values.size() : present.size();
  for (std::size_t i = 0; i < n; ++i) {
    const bool last = i + 1 == n;
    if (!last && peekNonBlank() == ',') {
      take();
      present[i] = false;
      continue;
    }
    if (!readInt(values[i])) {
      for (std::size_t k = i; k < n; ++k) present[k] = false;
      return;
    }
    present[i] = true;
    if (!last) {
      if (peekNonBlank() == ',') {
        take();
      } else {
        for (std::size_t k = i + 1; k < n; ++k) present[k] = false;
        return;
      }
    }
  }
}

}  // namespace qvb
