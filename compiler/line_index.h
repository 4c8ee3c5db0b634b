// The compiler's index of source lines: `split` files every line of a
// preprocessed text under its channel (0 = header lines, 1..26 = the lines
// marked #A..#Z), for the reader and for the warnings that point into the
// source.
#pragma once

#include <cstdint>
#include <vector>

namespace qvb {

struct SourceLine {
  std::int32_t number;  // 1-based line number in the source
  std::uint8_t* text;   // first byte in the work copy; the line runs to the next CR
};

class LineIndex {
 public:
  // Files the lines of a preprocessed text (ending in two LFs) by channel;
  // overwrites channel markers with spaces. Returns 0, or the line number of
  // a marker whose letter is not A-Z or a-z.
  int split(std::uint8_t* text);

  int lastChannel() const { return static_cast<int>(lines_.size()) - 1; }
  std::int32_t lineCount(int channel) const;
  const SourceLine& line(int channel, std::int32_t index) const;
  // A channel's lines in order; the channel must be 0..lastChannel().
  const std::vector<SourceLine>& channelLines(int channel) const { return lines_[static_cast<std::size_t>(channel)]; }

 private:
  std::vector<std::vector<SourceLine>> lines_;
};

}  // namespace qvb
