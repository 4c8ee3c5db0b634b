// The machine's sound output, as chosen when the program was built: each
// device backend (ALSA, winmm, or none) defines this one function. Hosts make
// the platform here and pass it to whatever plays.
#pragma once

#include <memory>

#include "sound/audio_platform.h"

namespace qvb {

// How much sound the device itself holds. Long: two of the output's buffers
// (93 ms at 44100 Hz), room for a busy machine; Short: four periods of about
// 12 ms (46 ms), so that what a live player changes is heard at once. The
// output's fills stay the same either way; backends without the choice
// ignore it.
enum class DeviceRing { Long, Short };

// A fresh platform for the machine's devices; the no-sound build returns one
// that has no devices, so playing opens nothing.
std::unique_ptr<AudioPlatform> makeSystemAudioPlatform(DeviceRing ring = DeviceRing::Long);

}  // namespace qvb
