#include "render/background_writer.h"

#include <algorithm>
#include <utility>

namespace qvb {

BackgroundWriter::BackgroundWriter(SampleSink write) : write_(std::move(write)) {
  thread_ = std::thread([this] { run(); });
}

BackgroundWriter::~BackgroundWriter() { finish(); }

bool BackgroundWriter::operator()(const std::int16_t* samples, std::int64_t frames) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return queued_ < kSlots || failed_; });
  if (failed_ || closing_) return false;
  Block& block = ring_[(head_ + queued_) % kSlots];
  lock.unlock();
  // The slot is the caller's alone until it is counted as queued.
  block.samples.assign(samples, samples + 2 * frames);
  block.frames = frames;
  lock.lock();
  ++queued_;
  changed_.notify_all();
  return true;
}

void BackgroundWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return queued_ > 0 || closing_; });
    if (queued_ == 0) return;  // closing, and all written
    Block& block = ring_[head_];
    lock.unlock();
    const bool ok = write_(block.samples.data(), block.frames);
    lock.lock();
    head_ = (head_ + 1) % kSlots;
    --queued_;
    if (!ok) {
      failed_ = true;
      queued_ = 0;  // what is left is not written
    }
    changed_.notify_all();
  }
}

bool BackgroundWriter::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  return !failed_;
}

}  // namespace qvb
