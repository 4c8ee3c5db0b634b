// A platform with no output devices: a Mixer made on it keeps its voices and
// timers but opens nothing, so its fill can be driven by hand (the renderer
// and tests do that).
#pragma once

#include "sound/audio_platform.h"

namespace qvb {

class NoDevicePlatform : public AudioPlatform {
 public:
  int deviceCount() override { return 0; }
  int deviceFormats(int, std::uint32_t&) override { return 1; }
  bool open(int, const AudioFormat&, BufferDone, void*) override { return false; }
  void pause() override {}
  bool prepare(AudioBuffer&) override { return false; }
  bool write(AudioBuffer&) override { return false; }
  void restart() override {}
  void reset() override {}
  void unprepare(AudioBuffer&) override {}
  void close() override {}
};

}  // namespace qvb
