// Growable per-channel byte buffers that the command compiler writes track
// data into and the image writer copies out of. An allocation failure does not
// stop the writer: it sets a mark that the compiler checks, and every later
// byte is dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
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
  ChannelBuffers(const ChannelBuffers&) = delete;
  ChannelBuffers& operator=(const ChannelBuffers&) = delete;
  ChannelBuffers(ChannelBuffers&&) = default;
  ChannelBuffers& operator=(ChannelBuffers&&) = default;

  std::int32_t count() const { return static_cast<std::int32_t>(blocks_.size()); }
  // 1 and the buffer becomes the current one; 0 when i is out of range.
  int select(std::int32_t i);
  // Stores the low 8 bits of b at the end of the current buffer.
  void put(int b) {
    if (cursor_ != limit_) {
      *cursor_++ = static_cast<std::uint8_t>(b);
      return;
    }
    putSlow(b);
  }
  // Writes one track item, its operands laid out by the command table's shapes.
  // With room for the longest item it goes straight in; near a step or the
  // limit it goes byte by byte, so growth and the limit act as for put().
  void emit(std::uint8_t opcode, std::int32_t first = 0, std::int32_t second = 0) {
    if (limit_ - cursor_ >= kMaxItemBytes) {
      writeItem([this](int b) { *cursor_++ = static_cast<std::uint8_t>(b); }, opcode, first, second);
      return;
    }
    writeItem([this](int b) { put(b); }, opcode, first, second);
  }
  // emit() for a note or rest and its length.
  void emitTimed(std::uint8_t opcode, std::int32_t length) {
    if (limit_ - cursor_ >= kMaxItemBytes) {
      writeTimedItem([this](int b) { *cursor_++ = static_cast<std::uint8_t>(b); }, opcode, length);
      return;
    }
    writeTimedItem([this](int b) { put(b); }, opcode, length);
  }
  // The bytes the current buffer takes as they stand, for a caller that
  // writes many items at once: it writes from the start and hands back the
  // end of what it wrote. Growth and the limit stay with put() and emit().
  std::span<std::uint8_t> room() const { return {cursor_, static_cast<std::size_t>(limit_ - cursor_)}; }
  void wrote(std::uint8_t* end) { cursor_ = end; }
  // True once an allocation has failed.
  bool failed() const { return error_; }
  std::int32_t length(std::int32_t i) const;
  std::int32_t capacity(std::int32_t i) const;
  void copyTo(std::int32_t i, std::uint8_t* destination) const;

 private:
  // Blocks are malloc'ed so that growing one can extend it in place (or move
  // its pages) instead of copying it and touching fresh memory.
  struct Free {
    void operator()(std::uint8_t* bytes) const;
  };
  struct Block {
    std::unique_ptr<std::uint8_t, Free> bytes;
    std::int32_t capacity = 0;
    std::int32_t length = 0;  // of the current block: as of its last select
  };

  void putSlow(int b);
  bool grow();
  // Where the current block's bytes may run to without a check: its capacity
  // or what the limit leaves it, whichever comes first.
  void setWindow();

  std::vector<Block> blocks_;
  std::int64_t othersTotal_ = 0;  // the bytes of every block but the current one
  std::int64_t maxTotal_;
  bool error_ = false;
  std::int32_t current_ = 0;
  std::uint8_t* cursor_ = nullptr;  // the current block's end
  std::uint8_t* limit_ = nullptr;   // cursor_ == limit_: the next byte takes the slow path
};

}  // namespace qvb
