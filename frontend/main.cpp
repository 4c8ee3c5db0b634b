#include "frontend/driver.h"
#include "sound/system_audio.h"

int main(int argc, char** argv) {
  const auto platform = qvb::makeSystemAudioPlatform();
  return qvb::runDriver(argc, argv, *platform);
}
