// A silent output paced by the clock: one 16-bit stereo 44100 Hz device that
// plays nothing but finishes each queued buffer when a real device would
// have played it, on a thread of its own. With it the player and its display
// run on machines without sound (CI, a server, a test terminal).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "sound/audio_platform.h"

namespace qvb {

class NullPlatform final : public AudioPlatform {
 public:
  NullPlatform() = default;
  ~NullPlatform() override;
  NullPlatform(const NullPlatform&) = delete;
  NullPlatform& operator=(const NullPlatform&) = delete;

  int deviceCount() override { return 1; }
  int deviceFormats(int device, std::uint32_t& formats) override;
  bool open(int device, const AudioFormat& format, BufferDone done, void* instance) override;
  void pause() override;
  bool prepare(AudioBuffer& buffer) override;
  bool write(AudioBuffer& buffer) override;
  void restart() override;
  void reset() override;
  void unprepare(AudioBuffer& buffer) override { buffer.prepared = false; }
  void close() override;
  bool drop() override;
  bool playedFrames(std::int64_t& frames) override;

 private:
  using Clock = std::chrono::steady_clock;
  void run();
  void stopThread();
  std::int64_t playedLocked(Clock::time_point now) const;

  std::mutex mutex_;         // the queue and the clock
  std::mutex notification_;  // one hand-back at a time
  std::condition_variable wake_;
  std::thread thread_;
  bool open_ = false, started_ = false, stop_ = false;
  BufferDone done_ = nullptr;
  void* instance_ = nullptr;
  int frameBytes_ = 4;
  std::deque<AudioBuffer*> queue_;
  std::int64_t finishedFrames_ = 0;  // frames of buffers played to their end
  Clock::time_point headSince_{};    // when the buffer at the head began to play
};

}  // namespace qvb
