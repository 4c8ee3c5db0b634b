#include "compiler/channel_buffers.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qvb {

ChannelBuffers::ChannelBuffers(std::int32_t count, std::int64_t maxTotalBytes) : maxTotal_(maxTotalBytes) {
  if (count < 0) {
    error_ = true;
    return;
  }
  try {
    data_.resize(static_cast<std::size_t>(count));
    capacity_.assign(static_cast<std::size_t>(count), 0);
  } catch (const std::bad_alloc&) {
    data_.clear();
    capacity_.clear();
    error_ = true;
  }
}

int ChannelBuffers::select(std::int32_t i) {
  if (i < 0 || i >= count()) return 0;
  current_ = i;
  return 1;
}

// Capacity grows in whole steps of 1024 bytes, doubling, so that writing a
// long track costs linear time.
bool ChannelBuffers::grow() {
  const std::size_t index = static_cast<std::size_t>(current_);
  const std::int32_t capacity = std::max(capacity_[index] + kGrowStep, capacity_[index] * 2);
  try {
    data_[index].reserve(static_cast<std::size_t>(capacity));
  } catch (const std::bad_alloc&) {
    error_ = true;
    return false;
  }
  capacity_[index] = capacity;
  return true;
}

std::int32_t ChannelBuffers::length(std::int32_t i) const {
  return static_cast<std::int32_t>(data_[static_cast<std::size_t>(i)].size());
}

std::int32_t ChannelBuffers::capacity(std::int32_t i) const { return capacity_[static_cast<std::size_t>(i)]; }

void ChannelBuffers::copyTo(std::int32_t i, std::uint8_t* destination) const {
  const std::vector<std::uint8_t>& buffer = data_[static_cast<std::size_t>(i)];
  if (!buffer.empty()) std::memcpy(destination, buffer.data(), buffer.size());
}

}  // namespace qvb
