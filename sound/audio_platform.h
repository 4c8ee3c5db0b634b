// The platform's wave output calls, as a small table behind which the real
// device (ALSA on Linux, winmm on Windows), the offline renderer and the tests'
// scriptable fake sit. One platform object drives at most one open stream.
#pragma once

#include <cstdint>
#include <string>

#include "sound/audio_format.h"

namespace qvb {

// Capability flags of a device, one bit per format (the wave output's classic bits).
inline constexpr std::uint32_t kFormat2M08 = 0x10, kFormat2S08 = 0x20, kFormat2M16 = 0x40,
                               kFormat2S16 = 0x80, kFormat4M08 = 0x100, kFormat4S08 = 0x200,
                               kFormat4M16 = 0x400, kFormat4S16 = 0x800;

// The flag that stands for a format; bytesPerSample or channels other than 1 count as 2.
std::uint32_t formatFlag(const AudioFormat& format);

// One queued buffer: what the platform plays and hands back when done.
struct AudioBuffer {
  std::uint8_t* data = nullptr;
  std::int32_t length = 0;
  bool prepared = false;
};

// Called for every buffer that finished playing (and for every buffer handed
// back by reset), on a thread of the platform's choosing, one call at a time.
using BufferDone = void (*)(void* instance, AudioBuffer* buffer);

class AudioPlatform {
 public:
  virtual ~AudioPlatform() = default;
  virtual int deviceCount() = 0;
  // 0 on success, with the device's capability flags in formats; else non-zero.
  virtual int deviceFormats(int device, std::uint32_t& formats) = 0;
  virtual bool open(int device, const AudioFormat& format, BufferDone done, void* instance) = 0;
  virtual void pause() = 0;
  virtual bool prepare(AudioBuffer& buffer) = 0;
  virtual bool write(AudioBuffer& buffer) = 0;
  virtual void restart() = 0;
  // Stops at once and hands every queued buffer back through BufferDone; when
  // it returns no notification runs or can start.
  virtual void reset() = 0;
  virtual void unprepare(AudioBuffer& buffer) = 0;
  virtual void close() = 0;

  // For outputs that stay open across songs. Hands every queued buffer back
  // through BufferDone now and keeps the stream open and running; false when
  // the platform cannot (the buffers then play out).
  virtual bool drop() { return false; }
  // Frames the device has actually played on the open stream, into frames;
  // false when the platform cannot tell (the output then counts the frames of
  // finished buffers).
  virtual bool playedFrames(std::int64_t& frames) {
    (void)frames;
    return false;
  }

  // Times the device ran dry on the open stream and a gap was heard (0 where
  // the platform cannot tell).
  virtual std::int64_t underruns() { return 0; }

  // Memory for one of the output's buffers, all zeros, or null when there is
  // none; given back through freeBuffer. A system with a heap of its own for
  // this (the process heap on Windows) uses it.
  virtual std::uint8_t* allocateBuffer(std::int32_t bytes);
  virtual void freeBuffer(std::uint8_t* data);
  // A name a user can pick the device by (the backend's own where it has one).
  virtual std::string deviceName(int device) { return "device " + std::to_string(device); }
};

}  // namespace qvb
