// An output that outlives a song: one open device and ring of eight buffers
// whose fill source (a PullStream over a Mixer made without output) is
// attached, replaced or detached between two fills, so a host starts, stops or swaps songs without
// reopening the device or paying the silent pre-fill again. It can pause
// (silence, the song not advancing) and tell how far the device has played.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "sound/audio_format.h"
#include "sound/audio_platform.h"

namespace qvb {

class PullStream;
class WaveOut;

class AudioOutput {
 public:
  // Opens a device on the platform (16-bit stereo 44100 Hz, stepped down like
  // WaveOut) and starts it playing silence. Status: running().
  explicit AudioOutput(AudioPlatform& platform);
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  bool running() const;
  const AudioFormat& format() const;

  // Makes stream the source from the next fill on (null: silence); it must
  // be made for format(). When it returns no fill runs on the source it
  // replaced, which the host may free.
  void attach(PullStream* stream);
  void detach() { attach(nullptr); }
  PullStream* source() const { return source_.load(); }

  // Paused fills are silence and do not call the source, so the song holds.
  void setPaused(bool paused) { paused_.store(paused); }
  bool paused() const { return paused_.load(); }

  // Detaches the source and drops what is queued, so silence is heard at
  // once where the platform can drop; true when it could.
  bool stop();

  // Makes stream the source and drops what is queued in one step, so the new
  // source is heard at once and none of its frames go to the dropped
  // buffers; the old source's queued frames are never heard. True when the
  // platform could drop (else the queue plays out before the new source).
  bool replace(PullStream* stream);

  // Frames the device has played since the output opened: the platform's
  // own position when it reports one, else the frames of finished buffers.
  std::int64_t playedFrames() const;
  // Gaps the device played because it ran dry (0 where the platform cannot tell).
  std::int64_t underruns() const { return platform_.underruns(); }

 private:
  static void fill(const AudioFormat* format, void* context, std::uint8_t* buffer,
                   std::int32_t bytes);

  AudioPlatform& platform_;
  std::atomic<PullStream*> source_{nullptr};
  std::atomic<int> filling_{0};  // fills running now; attach waits for 0
  std::atomic<bool> paused_{false};
  std::atomic<bool> dropping_{false};    // buffers handed back by a drop played nothing
  std::atomic<bool> holding_{false};     // replace: only the drop's refills reach the source
  std::atomic<std::int64_t> fills_{0};   // counted fills, the pre-fill included
  std::atomic<std::int64_t> bufferFrames_{0};
  std::unique_ptr<WaveOut> out_;
};

}  // namespace qvb
