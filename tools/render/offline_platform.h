// An output device that plays nothing and never runs on its own: one device
// that takes only 16-bit stereo 44100 Hz, whose queued buffers finish when the
// renderer says so. Finishing a buffer makes the wave output clear it, run the
// Mixer's fill and queue it again; the bytes of that refill are kept for the
// renderer to read. Buffers queued before restart() (the silent pre-fill) are
// not handed out as rendered sound.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "sound/audio_platform.h"

namespace qvb {

class OfflinePlatform : public AudioPlatform {
 public:
  int deviceCount() override { return 1; }
  int deviceFormats(int device, std::uint32_t& formats) override;
  bool open(int device, const AudioFormat& format, BufferDone done, void* instance) override;
  void pause() override { started_ = false; }
  bool prepare(AudioBuffer& buffer) override;
  bool write(AudioBuffer& buffer) override;
  void restart() override { started_ = true; }
  void reset() override;
  void unprepare(AudioBuffer& buffer) override { buffer.prepared = false; }
  void close() override;

  // Finishes the oldest queued buffer. True when the output refilled and
  // queued it again; the refill's samples are then in lastFill().
  bool finishNext();
  // Interleaved stereo 16-bit samples of the last refill (left first).
  const std::vector<std::int16_t>& lastFill() const { return lastFill_; }
  bool isOpen() const { return done_ != nullptr; }
  std::size_t queued() const { return queue_.size(); }

 private:
  BufferDone done_ = nullptr;
  void* instance_ = nullptr;
  bool started_ = false;
  bool finishing_ = false;
  bool refilled_ = false;
  std::deque<AudioBuffer*> queue_;
  std::vector<std::int16_t> lastFill_;
};

}  // namespace qvb
