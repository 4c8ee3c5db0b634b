#include "sound/null_platform.h"

#include <vector>

namespace qvb {
namespace {

constexpr std::int64_t kRate = 44100;

std::chrono::nanoseconds framesToTime(std::int64_t frames) {
  return std::chrono::nanoseconds(frames * 1'000'000'000 / kRate);
}

}  // namespace

NullPlatform::~NullPlatform() { close(); }

int NullPlatform::deviceFormats(int device, std::uint32_t& formats) {
  if (device != 0) return -1;
  formats = kFormat4S16;
  return 0;
}

bool NullPlatform::open(int device, const AudioFormat& format, BufferDone done, void* instance) {
  if (open_ || device != 0 || done == nullptr || format.bytesPerSample != 2 || format.channels != 2 ||
      format.sampleRate != kRate) {
    return false;
  }
  open_ = true;
  stop_ = false;
  done_ = done;
  instance_ = instance;
  frameBytes_ = format.bytesPerSample * format.channels;
  thread_ = std::thread([this] { run(); });
  return true;
}

void NullPlatform::pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  started_ = false;
}

bool NullPlatform::prepare(AudioBuffer& buffer) {
  if (!open_ || buffer.data == nullptr || buffer.length <= 0) return false;
  buffer.prepared = true;
  return true;
}

bool NullPlatform::write(AudioBuffer& buffer) {
  if (!buffer.prepared) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || stop_) return false;
    if (queue_.empty()) headSince_ = Clock::now();
    queue_.push_back(&buffer);
  }
  wake_.notify_one();
  return true;
}

void NullPlatform::restart() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    headSince_ = Clock::now();
  }
  wake_.notify_one();
}

// The head buffer plays from headSince_ for its length; when that time has
// passed it is handed back (and refilled and queued by the output).
void NullPlatform::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || (started_ && !queue_.empty()); });
    if (stop_) return;
    AudioBuffer* head = queue_.front();
    const std::int64_t frames = head->length / frameBytes_;
    const Clock::time_point due = headSince_ + framesToTime(frames);
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;  // a drop or stop may have come meanwhile
    }
    queue_.pop_front();
    finishedFrames_ += frames;
    headSince_ = due;
    lock.unlock();
    {
      std::lock_guard<std::mutex> serial(notification_);
      done_(instance_, head);
    }
    lock.lock();
  }
}

std::int64_t NullPlatform::playedLocked(Clock::time_point now) const {
  if (!started_ || queue_.empty()) return finishedFrames_;
  const std::int64_t headFrames = queue_.front()->length / frameBytes_;
  std::int64_t into = (now - headSince_) * kRate / std::chrono::seconds(1);
  if (into < 0) into = 0;
  if (into > headFrames) into = headFrames;
  return finishedFrames_ + into;
}

bool NullPlatform::playedFrames(std::int64_t& frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return false;
  frames = playedLocked(Clock::now());
  return true;
}

bool NullPlatform::drop() {
  std::lock_guard<std::mutex> serial(notification_);
  std::deque<AudioBuffer*> handed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || stop_) return false;
    // What the head had played counts; the rest is gone unheard.
    finishedFrames_ = playedLocked(Clock::now());
    handed.swap(queue_);
  }
  for (AudioBuffer* buffer : handed) done_(instance_, buffer);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    headSince_ = Clock::now();
  }
  wake_.notify_one();
  return true;
}

void NullPlatform::stopThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void NullPlatform::reset() {
  if (!open_) return;
  stopThread();
  std::lock_guard<std::mutex> serial(notification_);
  std::deque<AudioBuffer*> handed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    handed.swap(queue_);
  }
  for (AudioBuffer* buffer : handed) done_(instance_, buffer);
}

void NullPlatform::close() {
  if (!open_) return;
  reset();
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  done_ = nullptr;
  instance_ = nullptr;
}

}  // namespace qvb
