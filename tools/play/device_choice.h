// One device of a platform, chosen by name: the platform seen through this
// has only that device, so the output opens it or nothing.
#pragma once

#include <string>

#include "sound/audio_platform.h"

namespace qvb {

class ChosenDevice final : public AudioPlatform {
 public:
  // device: an index of the platform's devices (-1: none matched).
  ChosenDevice(AudioPlatform& platform, int device) : platform_(platform), device_(device) {}

  int deviceCount() override { return device_ >= 0 ? 1 : 0; }
  int deviceFormats(int device, std::uint32_t& formats) override {
    return device == 0 ? platform_.deviceFormats(device_, formats) : -1;
  }
  bool open(int device, const AudioFormat& format, BufferDone done, void* instance) override {
    return device == 0 && platform_.open(device_, format, done, instance);
  }
  void pause() override { platform_.pause(); }
  bool prepare(AudioBuffer& buffer) override { return platform_.prepare(buffer); }
  bool write(AudioBuffer& buffer) override { return platform_.write(buffer); }
  void restart() override { platform_.restart(); }
  void reset() override { platform_.reset(); }
  void unprepare(AudioBuffer& buffer) override { platform_.unprepare(buffer); }
  void close() override { platform_.close(); }
  bool drop() override { return platform_.drop(); }
  bool playedFrames(std::int64_t& frames) override { return platform_.playedFrames(frames); }
  std::int64_t underruns() override { return platform_.underruns(); }
  std::string deviceName(int device) override { return device == 0 ? platform_.deviceName(device_) : ""; }

 private:
  AudioPlatform& platform_;
  int device_;
};

// The index of the device with this name, or -1.
inline int findDevice(AudioPlatform& platform, const std::string& name) {
  for (int i = 0; i < platform.deviceCount(); ++i)
    if (platform.deviceName(i) == name) return i;
  return -1;
}

}  // namespace qvb
