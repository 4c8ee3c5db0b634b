// The wave output device: picks a device and PCM format (16-bit stereo 44100 Hz
// down to 8-bit mono 22050 Hz), keeps eight 8192-byte buffers circulating on
// an AudioPlatform, and has each finished buffer cleared, refilled through the
// fill callback and queued again. Status after construction: running().
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "sound/audio_format.h"
#include "sound/audio_platform.h"

namespace qvb {

// The sound driver's version, printed in the banner.
float GetDriverVersion();

inline constexpr int kWaveBufferCount = 8;
inline constexpr int kWaveBufferBytes = 8192;

class WaveOut {
 public:
  // Opens a device and starts it: the eight buffers are filled on this thread
  // while the device is paused, queued, and the device restarted. requested
  // null means 16-bit stereo 44100 Hz; a non-null one is stepped down in place.
  // With Begin::Later the device stays paused until Start(): an owner that
  // has more to set up before the next fill (a player's timers) starts it
  // then, so that a device draining at once cannot fill ahead of it.
  enum class Begin { Now, Later };
  WaveOut(FillCallback fill, void* context, AudioFormat* requested, AudioPlatform& platform,
          Begin begin = Begin::Now);
  ~WaveOut();
  WaveOut(const WaveOut&) = delete;
  WaveOut& operator=(const WaveOut&) = delete;

  // Stops at once and releases the device and the buffers; when it returns no
  // fill runs or can start. Does nothing when not running.
  void Close();
  // Restarts the device left paused by Begin::Later. Does nothing when not running.
  void Start();

  bool running() const { return running_.load() != 0; }
  const AudioFormat& format() const { return format_; }
  int device() const { return device_; }

  // The lowest device offering the format, or -1; devices whose query fails are skipped.
  int FindDevice(const AudioFormat* format);
  // Steps the format to the next fallback; false when none is left.
  static bool NextFormat(AudioFormat* format);
  bool OpenDevice(int device, const AudioFormat* format);
  // The platform's finished-buffer notification; instance is the WaveOut.
  static void BufferDone(void* instance, AudioBuffer* buffer);

 private:
  void refill(AudioBuffer& buffer);
  // Takes the eight buffers from the platform in order; on a failure gives
  // back the ones already taken, last first, and returns false.
  bool allocateBuffers();
  void freeBuffers();

  AudioPlatform& platform_;
  AudioFormat format_;
  FillCallback fill_;
  void* fillContext_;
  std::atomic<int> running_{0};
  int device_ = -1;
  std::array<AudioBuffer, kWaveBufferCount> headers_{};
};

}  // namespace qvb
