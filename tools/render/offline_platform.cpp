#include "render/offline_platform.h"

#include <cstring>

namespace qvb {

int OfflinePlatform::deviceFormats(int device, std::uint32_t& formats) {
  if (device != 0) return 1;
  formats = kFormat4S16;
  return 0;
}

bool OfflinePlatform::open(int device, const AudioFormat& format, BufferDone done,
                           void* instance) {
  if (device != 0 || done_ || !done) return false;
  if (!(format == AudioFormat{2, 2, 44100})) return false;
  done_ = done;
  instance_ = instance;
  started_ = false;
  return true;
}

bool OfflinePlatform::prepare(AudioBuffer& buffer) {
  if (!done_) return false;
  buffer.prepared = true;
  return true;
}

bool OfflinePlatform::write(AudioBuffer& buffer) {
  if (!done_ || !buffer.prepared || !buffer.data || buffer.length < 0) return false;
  queue_.push_back(&buffer);
  // Only a refill made while a buffer is being finished is rendered sound;
  // what the output queues while it starts up is its silent lead-in.
  if (finishing_) {
    lastFill_.resize(static_cast<std::size_t>(buffer.length) / sizeof(std::int16_t));
    std::memcpy(lastFill_.data(), buffer.data, lastFill_.size() * sizeof(std::int16_t));
    refilled_ = true;
  }
  return true;
}

void OfflinePlatform::reset() {
  started_ = false;
  // Every queued buffer goes back as finished; the output, already stopping,
  // does not queue them again.
  std::deque<AudioBuffer*> handedBack;
  handedBack.swap(queue_);
  for (AudioBuffer* buffer : handedBack) {
    if (done_) done_(instance_, buffer);
  }
  queue_.clear();
}

void OfflinePlatform::close() {
  done_ = nullptr;
  instance_ = nullptr;
  started_ = false;
  queue_.clear();
}

bool OfflinePlatform::finishNext() {
  lastFill_.clear();
  if (!done_ || !started_ || queue_.empty()) return false;
  AudioBuffer* buffer = queue_.front();
  queue_.pop_front();
  finishing_ = true;
  refilled_ = false;
  done_(instance_, buffer);
  finishing_ = false;
  return refilled_;
}

}  // namespace qvb
