#include "compiler/source_map.h"

#include <algorithm>

namespace qvb {

void SourceMap::reserve(int channels, std::size_t count) {
  if (channels <= 0) return;
  if (static_cast<std::size_t>(channels) > channels_.size()) channels_.resize(static_cast<std::size_t>(channels));
  for (std::vector<SourcePlace>& places : channels_) places.reserve(count);
}

bool SourceMap::find(int channel, std::int32_t offset, SourcePlace& place) const {
  if (channel < 0 || channel >= channelCount() || offset < 0) return false;
  const std::vector<SourcePlace>& places = channels_[static_cast<std::size_t>(channel)];
  const auto after = std::upper_bound(places.begin(), places.end(), offset,
                                      [](std::int32_t o, const SourcePlace& p) { return o < p.offset; });
  if (after == places.begin()) return false;
  place = *(after - 1);
  return true;
}

// Whether each line (by 1-based number) follows a CR LF line end. A lone CR
// ends no line.
static std::vector<bool> linesAfterCrLf(std::span<const std::uint8_t> source) {
  std::vector<bool> after{false, false};
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\n') after.push_back(i > 0 && source[i - 1] == '\r');
  }
  return after;
}

void SourceMap::toTextRows(std::span<const std::uint8_t> source) {
  const std::vector<bool> after = linesAfterCrLf(source);
  for (std::vector<SourcePlace>& places : channels_) {
    for (SourcePlace& p : places) {
      if (p.line > 0 && static_cast<std::size_t>(p.line) < after.size() && after[static_cast<std::size_t>(p.line)] &&
          p.row > 1) {
        --p.row;
      }
    }
  }
}

}  // namespace qvb
