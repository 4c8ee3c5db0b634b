// The Linux sound output: ALSA PCM devices behind the AudioPlatform table.
// Devices are PCM names ("default" first, so desktop sound servers work); the
// capability test asks each device whether it accepts a format. One thread per
// open stream writes the queued buffers in order, one period at a time, and
// hands each back once the device has played it; drop() empties the queue at
// once and playedFrames() tells what has been heard; underruns are counted.
// Nothing is printed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sound/audio_platform.h"
#include "sound/system_audio.h"

namespace qvb {

class AlsaPlatform final : public AudioPlatform {
 public:
  // The machine's playback PCMs: "default", then every hinted output except
  // "null" (which swallows data without pacing). They are listed when first
  // asked for, so a run that plays nothing never reads the sound configuration.
  explicit AlsaPlatform(DeviceRing ring = DeviceRing::Long);
  // Exactly these PCM names, in this order (tests name their own devices).
  explicit AlsaPlatform(std::vector<std::string> names, DeviceRing ring = DeviceRing::Long);
  ~AlsaPlatform() override;
  AlsaPlatform(const AlsaPlatform&) = delete;
  AlsaPlatform& operator=(const AlsaPlatform&) = delete;

  const std::vector<std::string>& names();

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
  bool drop() override;
  bool playedFrames(std::int64_t& frames) override;
  std::int64_t underruns() override;
  std::string deviceName(int device) override;
  // The device's own buffer on the open stream, in frames (0 when closed).
  std::int64_t deviceBufferFrames() const;

  struct Stream;  // the open PCM and its writer thread

 private:
  void listDevices();

  std::vector<std::string> names_;
  bool listed_ = false;
  DeviceRing ring_;
  std::unique_ptr<Stream> stream_;
};

}  // namespace qvb
