// Writes a render's sound on a thread of its own: each block the renderer
// hands over is copied into a small ring and written from there, so making
// the next block and writing the last one overlap, and a whole render costs
// about the longer of the two instead of their sum.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "render/render_session.h"

namespace qvb {

class BackgroundWriter {
 public:
  // write is called on the writer's thread, block after block, in order.
  explicit BackgroundWriter(SampleSink write);
  ~BackgroundWriter();  // finish()
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Queues a copy of the frames (waiting while the ring is full); false once
  // a write has failed, so the render stops.
  bool operator()(const std::int16_t* samples, std::int64_t frames);
  // Waits until every queued block is written; false when a write failed.
  bool finish();

  static constexpr int kSlots = 4;

 private:
  struct Block {
    std::vector<std::int16_t> samples;
    std::int64_t frames = 0;
  };
  void run();

  SampleSink write_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Block ring_[kSlots];
  int head_ = 0;    // next block to write
  int queued_ = 0;  // blocks waiting
  bool closing_ = false;
  bool failed_ = false;
  std::thread thread_;
};

}  // namespace qvb
