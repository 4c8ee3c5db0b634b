#include "tests/support/fake_audio_platform.h"

namespace qvb::test {

bool FakeAudioPlatform::finishNext() {
  // Another thread inside a notification is waited for, as a device would.
  std::lock_guard<std::mutex> serial(notificationMutex_);
  AudioBuffer* buffer = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || paused_ || queue_.empty()) return false;
    buffer = queue_.front();
    queue_.pop_front();
    if (inNotification_) violations_.push_back("overlapping notification");
    inNotification_ = true;
    ++finished_;
  }
  done_(instance_, buffer);
  std::lock_guard<std::mutex> lock(mutex_);
  inNotification_ = false;
  return true;
}

int FakeAudioPlatform::finishNext(int count) {
  int n = 0;
  while (n < count && finishNext()) ++n;
  return n;
}

int FakeAudioPlatform::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(queue_.size());
}

std::vector<std::uint8_t> FakeAudioPlatform::writtenStream() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint8_t> out;
  for (const auto& w : writes_) out.insert(out.end(), w.begin(), w.end());
  return out;
}

int FakeAudioPlatform::deviceCount() { return static_cast<int>(devices.size()); }

int FakeAudioPlatform::deviceFormats(int device, std::uint32_t& formats) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++queries_;
  calls_.push_back("query " + std::to_string(device));
  if (device < 0 || device >= static_cast<int>(devices.size())) return -1;
  const FakeDevice& d = devices[static_cast<std::size_t>(device)];
  if (d.queryFails) return 1;
  formats = d.formats;
  return 0;
}

bool FakeAudioPlatform::open(int device, const AudioFormat& format, BufferDone done, void* instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("open " + std::to_string(device));
  if (open_) violations_.push_back("open while open");
  if (device < 0 || device >= static_cast<int>(devices.size()) ||
      devices[static_cast<std::size_t>(device)].openFails) {
    return false;
  }
  open_ = true;
  paused_ = reset_ = closed_ = false;
  openedDevice_ = device;
  openedFormat_ = format;
  done_ = done;
  instance_ = instance;
  return true;
}

void FakeAudioPlatform::pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("pause");
  paused_ = true;
}

bool FakeAudioPlatform::prepare(AudioBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("prepare");
  const int number = prepares_++;
  if (prepareFailsFrom >= 0 && number >= prepareFailsFrom) return false;
  buffer.prepared = true;
  return true;
}

bool FakeAudioPlatform::write(AudioBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("write");
  const int number = writesTried_++;
  if (!open_ || reset_) {
    violations_.push_back("write after reset or close");
    return false;
  }
  if (!buffer.prepared) {
    violations_.push_back("write of an unprepared buffer");
    return false;
  }
  if (writeFailsFrom >= 0 && number >= writeFailsFrom) return false;
  queue_.push_back(&buffer);
  if (recordWrites) writes_.emplace_back(buffer.data, buffer.data + buffer.length);
  return true;
}

void FakeAudioPlatform::restart() {
  int queuedNow = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("restart");
    paused_ = false;
    queuedNow = static_cast<int>(queue_.size());
  }
  if (drainsOnRestart) finishNext(queuedNow);
}

void FakeAudioPlatform::reset() {
  std::lock_guard<std::mutex> serial(notificationMutex_);
  std::deque<AudioBuffer*> handedBack;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("reset");
    reset_ = true;
    handedBack.swap(queue_);
  }
  // Every queued buffer comes back as finished, as the device would hand it.
  if (done_ == nullptr) return;
  for (AudioBuffer* buffer : handedBack) done_(instance_, buffer);
}

bool FakeAudioPlatform::drop() {
  std::lock_guard<std::mutex> serial(notificationMutex_);
  std::deque<AudioBuffer*> handedBack;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back("drop");
    if (!open_) return false;
    handedBack.swap(queue_);
    // What was queued is gone unheard.
    if (recordWrites) writes_.resize(writes_.size() >= handedBack.size() ? writes_.size() - handedBack.size() : 0);
  }
  for (AudioBuffer* buffer : handedBack) done_(instance_, buffer);
  return true;
}

bool FakeAudioPlatform::playedFrames(std::int64_t& frames) {
  if (reportedPlayedFrames < 0) return false;
  frames = reportedPlayedFrames;
  return true;
}

void FakeAudioPlatform::unprepare(AudioBuffer& buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("unprepare");
  buffer.prepared = false;
}

void FakeAudioPlatform::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back("close");
  open_ = false;
  closed_ = true;
  done_ = nullptr;
  instance_ = nullptr;
}

std::uint8_t* FakeAudioPlatform::allocateBuffer(std::int32_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int number = allocations_++;
  if (number == allocationFailsAt) return nullptr;
  std::uint8_t* data = AudioPlatform::allocateBuffer(bytes);
  if (data != nullptr) held_.emplace_back(data, number);
  return data;
}

void FakeAudioPlatform::freeBuffer(std::uint8_t* data) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->first != data) continue;
    freed_.push_back(it->second);
    held_.erase(it);
    AudioPlatform::freeBuffer(data);
    return;
  }
  violations_.push_back("free of a buffer not held");
}

}  // namespace qvb::test
