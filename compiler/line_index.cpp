#include "compiler/line_index.h"

#include <array>

namespace qvb {

namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;

constexpr std::array<bool, 256> kLineEnd = [] {
  std::array<bool, 256> end{};
  end[kCr] = true;
  end[kLf] = true;
  return end;
}();

// The channel a marker letter selects, or -1 for a byte that is no letter.
int markerChannel(std::uint8_t letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A' + 1;
  if (letter >= 'a' && letter <= 'z') return letter - 'a' + 1;
  return -1;
}

}  // namespace

int LineIndex::split(std::uint8_t* text) {
  std::int32_t lineNumber = 1;
  int channel = 0;
  std::uint8_t* p = text;
  while (*p != kLf) {
    std::uint8_t* q = p;
    while (*q == 0 || *q == ' ') ++q;
    if (*q == '#') {
      const std::uint8_t after = q[2];
      if (after == 0 || after == kLf || after == kCr || after == ' ') {
        const int marked = markerChannel(q[1]);
        if (marked < 0) return lineNumber;
        channel = marked;
        q[0] = ' ';
        q[1] = ' ';
      } else {
        channel = 0;  // a directive line
      }
    }
    if (channel >= static_cast<int>(lines_.size())) lines_.resize(static_cast<std::size_t>(channel) + 1);
    lines_[static_cast<std::size_t>(channel)].push_back(SourceLine{lineNumber, p});
    while (!kLineEnd[*p]) ++p;
    ++p;
    ++lineNumber;
  }
  return 0;
}

std::int32_t LineIndex::lineCount(int channel) const {
  if (channel < 0 || channel > lastChannel()) return 0;
  return static_cast<std::int32_t>(lines_[static_cast<std::size_t>(channel)].size());
}

const SourceLine& LineIndex::line(int channel, std::int32_t index) const {
  return lines_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(index)];
}

}  // namespace qvb
