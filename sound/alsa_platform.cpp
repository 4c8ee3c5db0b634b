// Placeholder until the ALSA device layer lands: a machine without devices.
#include "sound/audio_platform.h"

namespace qvb {
namespace {

class NoDevices final : public AudioPlatform {
 public:
  int deviceCount() override { return 0; }
  int deviceFormats(int, std::uint32_t&) override { return -1; }
  bool open(int, const AudioFormat&, BufferDone, void*) override { return false; }
  void pause() override {}
  bool prepare(AudioBuffer&) override { return false; }
  bool write(AudioBuffer&) override { return false; }
  void restart() override {}
  void reset() override {}
  void unprepare(AudioBuffer&) override {}
  void close() override {}
};

}  // namespace

AudioPlatform& systemAudioPlatform() {
  static NoDevices platform;
  return platform;
}

}  // namespace qvb
