// The machine's sound output, as chosen when the program was built: each
// device backend (ALSA, winmm, or none) defines this one function. Hosts make
// the platform here and pass it to whatever plays.
#pragma once

#include <memory>

#include "sound/audio_platform.h"

namespace qvb {

// A fresh platform for the machine's devices; the no-sound build returns one
// that has no devices, so playing opens nothing.
std::unique_ptr<AudioPlatform> makeSystemAudioPlatform();

}  // namespace qvb
