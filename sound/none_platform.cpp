// The backend of a build without sound: no devices, so nothing ever opens.
#include "sound/no_device_platform.h"
#include "sound/system_audio.h"

namespace qvb {

std::unique_ptr<AudioPlatform> makeSystemAudioPlatform(DeviceRing) { return std::make_unique<NoDevicePlatform>(); }

}  // namespace qvb
