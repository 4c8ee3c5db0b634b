// The Windows sound output: the multimedia wave output (waveOut) behind the
// AudioPlatform table. Devices are the waveOut device numbers; the capability
// flags are the device's own dwFormats. A waveOut notification must not call
// waveOut functions itself, so it only hands the finished buffer to a thread
// of this platform, which passes the buffers on one at a time, in the order
// they finished. drop() resets the device, so a seek is heard at once, and
// playedFrames() asks the device's position. Nothing is printed.
#pragma once

#include <cstdint>
#include <memory>

#include "sound/audio_platform.h"

namespace qvb {

class WinmmPlatform final : public AudioPlatform {
 public:
  WinmmPlatform();
  ~WinmmPlatform() override;
  WinmmPlatform(const WinmmPlatform&) = delete;
  WinmmPlatform& operator=(const WinmmPlatform&) = delete;

  int deviceCount() override;
  int deviceFormats(int device, std::uint32_t& formats) override;
  bool open(int device, const AudioFormat& format, BufferDone done, void* instance) override;
  void pause() override;
  bool prepare(AudioBuffer& buffer) override;
  bool write(AudioBuffer& buffer) override;
  void restart() override;
  void reset() override;
  bool drop() override;
  bool playedFrames(std::int64_t& frames) override;
  void unprepare(AudioBuffer& buffer) override;
  void close() override;
  // The process heap.
  std::uint8_t* allocateBuffer(std::int32_t bytes) override;
  void freeBuffer(std::uint8_t* data) override;

  struct Stream;  // the open device, its headers and the refill thread

 private:
  std::unique_ptr<Stream> stream_;
};

}  // namespace qvb
