#include "compiler/source_map.h"

#include <algorithm>

namespace qvb {

void SourceMap::add(int channel, std::int32_t offset, std::int32_t line, std::int32_t row) {
  if (channel < 0) return;
  if (static_cast<std::size_t>(channel) >= channels_.size()) channels_.resize(static_cast<std::size_t>(channel) + 1);
  std::vector<SourcePlace>& places = channels_[static_cast<std::size_t>(channel)];
  if (!places.empty() && places.back().offset == offset) places.pop_back();
  places.push_back({offset, line, row});
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
