#include "compiler/channel_buffers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qvb {

ChannelBuffers::ChannelBuffers(std::int32_t count, std::int64_t maxTotalBytes) : maxTotal_(maxTotalBytes) {
  if (count < 0) {
    error_ = true;
    return;
  }
  try {
    blocks_.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    blocks_.clear();
    error_ = true;
  }
}

void ChannelBuffers::Free::operator()(std::uint8_t* bytes) const { std::free(bytes); }

int ChannelBuffers::select(std::int32_t i) {
  if (i < 0 || i >= count()) return 0;
  const std::int32_t written = length(current_);
  blocks_[static_cast<std::size_t>(current_)].length = written;
  othersTotal_ += written - blocks_[static_cast<std::size_t>(i)].length;
  current_ = i;
  setWindow();
  return 1;
}

void ChannelBuffers::setWindow() {
  Block& block = blocks_[static_cast<std::size_t>(current_)];
  if (block.bytes == nullptr) {
    cursor_ = limit_ = nullptr;
    return;
  }
  cursor_ = block.bytes.get() + block.length;
  const std::int64_t allowed = std::min<std::int64_t>(block.capacity, maxTotal_ - othersTotal_);
  limit_ = error_ || allowed <= block.length ? cursor_ : block.bytes.get() + allowed;
}

void ChannelBuffers::putSlow(int b) {
  if (error_ || blocks_.empty()) return;
  Block& block = blocks_[static_cast<std::size_t>(current_)];
  block.length = length(current_);
  if (othersTotal_ + block.length >= maxTotal_) {
    error_ = true;
    setWindow();
    return;
  }
  if (block.length >= block.capacity && !grow()) return;
  setWindow();
  *cursor_++ = static_cast<std::uint8_t>(b);
}

// Capacity grows in whole steps of 1024 bytes, doubling, so that writing a
// long track costs linear time.
bool ChannelBuffers::grow() {
  Block& block = blocks_[static_cast<std::size_t>(current_)];
  const std::int32_t capacity = std::max(block.capacity + kGrowStep, block.capacity * 2);
  void* bytes = std::realloc(block.bytes.get(), static_cast<std::size_t>(capacity));
  if (bytes == nullptr) {
    error_ = true;
    setWindow();
    return false;
  }
  static_cast<void>(block.bytes.release());
  block.bytes.reset(static_cast<std::uint8_t*>(bytes));
  block.capacity = capacity;
  return true;
}

std::int32_t ChannelBuffers::length(std::int32_t i) const {
  const Block& block = blocks_[static_cast<std::size_t>(i)];
  if (i != current_ || block.bytes == nullptr) return block.length;
  return static_cast<std::int32_t>(cursor_ - block.bytes.get());
}

std::int32_t ChannelBuffers::capacity(std::int32_t i) const { return blocks_[static_cast<std::size_t>(i)].capacity; }

void ChannelBuffers::copyTo(std::int32_t i, std::uint8_t* destination) const {
  const std::int32_t bytes = length(i);
  if (bytes > 0) std::memcpy(destination, blocks_[static_cast<std::size_t>(i)].bytes.get(), static_cast<std::size_t>(bytes));
}

}  // namespace qvb
