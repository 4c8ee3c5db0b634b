// Where a compiled song's items came from: for every channel, the offsets in
// its block at which the items of one command begin, each with the line and
// row of that command in the source. A repeat bracket's copies map to the
// same text. It is made beside the image (no byte of the image changes) for
// hosts that go from a sequencer event (channel, byte offset) to the source.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qvb {

struct SourcePlace {
  std::int32_t offset = 0;  // in the channel's block
  std::int32_t line = 0;    // 1-based
  std::int32_t row = 0;     // 1-based byte column
  bool operator==(const SourcePlace&) const = default;
};

class SourceMap {
 public:
  // Called as the items are written, offsets never decreasing: a command
  // that wrote nothing is replaced by the next one at the same offset. Once
  // for every note of a song: inline, and cheap while the room lasts.
  void add(int channel, std::int32_t offset, std::int32_t line, std::int32_t row) {
    if (channel < 0) return;
    if (static_cast<std::size_t>(channel) >= channels_.size()) channels_.resize(static_cast<std::size_t>(channel) + 1);
    std::vector<SourcePlace>& places = channels_[static_cast<std::size_t>(channel)];
    if (!places.empty() && places.back().offset == offset) places.pop_back();
    places.push_back({offset, line, row});
  }
  // Room for `count` places in each of `channels` channels, so that a long
  // song's map grows without copies (pages untouched cost no memory).
  void reserve(int channels, std::size_t count);
  // The place of the command that wrote the byte at offset of the channel's
  // block; false when the map has none (no such channel or offset).
  bool find(int channel, std::int32_t offset, SourcePlace& place) const;

  // The compiler counts rows as its reader does: on a line after a CR LF
  // line end, one higher than the text's own column (the line starts with
  // what was the LF). This moves every place onto the text's own columns.
  void toTextRows(std::span<const std::uint8_t> source);

  int channelCount() const { return static_cast<int>(channels_.size()); }
  const std::vector<SourcePlace>& places(int channel) const { return channels_[static_cast<std::size_t>(channel)]; }
  void clear() { channels_.clear(); }

 private:
  std::vector<std::vector<SourcePlace>> channels_;
};

}  // namespace qvb
