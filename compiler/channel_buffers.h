// Growable per-channel byte buffers that the command compiler writes track
// data into and the image writer copies out of. An allocation failure does not
// stop the writer: it sets a mark that the compiler checks, and every later
// byte is dropped.
#pragma once

#include <cstdint>
#include <vector>

#include "song/track_commands.h"

namespace qvb {

class ChannelBuffers {
 public:
  static constexpr std::int32_t kGrowStep = 1024;
  // All channels together; more track data than this is treated as exhausted
  // memory, which keeps every offset of the image far inside 32 bits.
  static constexpr std::int64_t kMaxTotalBytes = std::int64_t{16} << 20;

  explicit ChannelBuffers(std::int32_t count, std::int64_t maxTotalBytes = kMaxTotalBytes);

  std::int32_t count() const { return static_cast<std::int32_t>(data_.size()); }
  // 1 and the buffer becomes the current one; 0 when i is out of range.
  int select(std::int32_t i);
  // Stores the low 8 bits of b at the end of the current buffer.
  void put(int b) {
    if (error_ || data_.empty()) return;
    if (total_ >= maxTotal_) {
      error_ = true;
      return;
    }
    std::vector<std::uint8_t>& buffer = data_[static_cast<std::size_t>(current_)];
    if (static_cast<std::int32_t>(buffer.size()) >= capacity_[static_cast<std::size_t>(current_)] &&
        !grow()) return;
    buffer.push_back(static_cast<std::uint8_t>(b & 0xFF));
    ++total_;
  }
  // Writes one track item, its operands laid out by the command table's shapes.
  void emit(std::uint8_t opcode, std::int32_t first = 0, std::int32_t second = 0) {
    writeItem([this](int b) { put(b); }, opcode, first, second);
  }
  // -1 once an allocation has failed, else 0.
  int failed() const { return error_ ? -1 : 0; }
  std::int32_t length(std::int32_t i) const;
  std::int32_t capacity(std::int32_t i) const;
  void copyTo(std::int32_t i, std::uint8_t* destination) const;

 private:
  bool grow();

  std::vector<std::vector<std::uint8_t>> data_;
  std::vector<std::int32_t> capacity_;
  std::int64_t total_ = 0;
  std::int64_t maxTotal_;
  bool error_ = false;
  std::int32_t current_ = 0;
};

}  // namespace qvb
