// A scriptable AudioPlatform for tests: devices with chosen capability flags,
// queries, opens, prepares and writes that fail on demand, and buffers that
// finish only when the test says so, oldest first, as a real device plays them.
//
//   qvb::test::FakeAudioPlatform fake;                 // one 16-bit stereo 44100 Hz device
//   qvb::Mixer mixer(4, fake);                          // opens, pre-fills 8 buffers
//   ... set up timers ...
//   fake.finishNext(100);                               // play 100 buffers
//   fake.writes();                                      // the bytes of every queued buffer, in order
//
// Every finished buffer is handed to the output's BufferDone on the calling
// thread, one at a time (finishNext may be called from several threads). The
// fake records protocol faults in violations(): a queue after reset or close,
// a write of an unprepared buffer, a notification overlapping another.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sound/audio_platform.h"

namespace qvb::test {

struct FakeDevice {
  std::uint32_t formats = kFormat4S16;
  bool queryFails = false;  // deviceFormats() returns an error
  bool openFails = false;   // open() refuses
};

class FakeAudioPlatform : public AudioPlatform {
 public:
  FakeAudioPlatform() : devices{FakeDevice{}} {}
  explicit FakeAudioPlatform(std::vector<FakeDevice> list) : devices(std::move(list)) {}

  // Script (set before the output opens).
  std::vector<FakeDevice> devices;
  int prepareFailsFrom = -1;   // the prepare call with this 0-based number and all later fail
  int writeFailsFrom = -1;     // the same for write
  bool recordWrites = true;    // keep a copy of every written buffer
  std::int64_t reportedPlayedFrames = -1;  // what playedFrames() reports; -1: cannot tell
  int allocationFailsAt = -1;  // the buffer allocation with this 0-based number fails
  // A device that plays at once: restart() finishes every buffer queued then,
  // on the calling thread, before it returns.
  bool drainsOnRestart = false;

  // Finishes the oldest queued buffer (BufferDone runs on this thread); false
  // when nothing is queued, the device is paused, or not open.
  bool finishNext();
  // Finishes up to count buffers; returns how many finished.
  int finishNext(int count);

  // What happened.
  bool isOpen() const { return open_; }
  bool isPaused() const { return paused_; }
  bool wasReset() const { return reset_; }
  bool wasClosed() const { return closed_; }
  int openedDevice() const { return openedDevice_; }
  const AudioFormat& openedFormat() const { return openedFormat_; }
  int queued() const;
  int queryCount() const { return queries_; }
  int finishedCount() const { return finished_; }
  // Call names in order: "query N", "open N", "pause", "prepare", "write",
  // "restart", "reset", "drop", "unprepare", "close".
  const std::vector<std::string>& calls() const { return calls_; }
  const std::vector<std::vector<std::uint8_t>>& writes() const { return writes_; }
  // All written bytes back to back: what the device played or will play.
  std::vector<std::uint8_t> writtenStream() const;
  const std::vector<std::string>& violations() const { return violations_; }
  // Allocation numbers of the buffers given back, in the order they came back.
  const std::vector<int>& freedBuffers() const { return freed_; }
  int buffersHeld() const { return static_cast<int>(held_.size()); }

  // AudioPlatform
  int deviceCount() override;
  int deviceFormats(int device, std::uint32_t& formats) override;
  bool open(int device, const AudioFormat& format, BufferDone done, void* instance) override;
  void pause() override;
  bool prepare(AudioBuffer& buffer) override;
  bool write(AudioBuffer& buffer) override;
  void restart() override;
  void reset() override;
  void unprepare(AudioBuffer& buffer) override;
  void close() override;
  // Hands the queue back at once (its records are dropped from writes()).
  bool drop() override;
  bool playedFrames(std::int64_t& frames) override;
  std::uint8_t* allocateBuffer(std::int32_t bytes) override;
  void freeBuffer(std::uint8_t* data) override;

 private:
  mutable std::mutex mutex_;          // guards the queue and the records
  std::mutex notificationMutex_;      // one notification at a time
  bool inNotification_ = false;
  std::deque<AudioBuffer*> queue_;
  BufferDone done_ = nullptr;
  void* instance_ = nullptr;
  bool open_ = false, paused_ = false, reset_ = false, closed_ = false;
  int openedDevice_ = -1;
  AudioFormat openedFormat_{};
  int queries_ = 0, prepares_ = 0, writesTried_ = 0, finished_ = 0;
  std::vector<std::string> calls_;
  std::vector<std::vector<std::uint8_t>> writes_;
  std::vector<std::string> violations_;
  int allocations_ = 0;
  std::vector<std::pair<std::uint8_t*, int>> held_;  // buffers out, with their allocation numbers
  std::vector<int> freed_;
};

}  // namespace qvb::test
