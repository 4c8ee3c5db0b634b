#include "frontend/driver.h"
#include "host/terminal.h"
#include "sound/system_audio.h"

int main(int argc, char** argv) {
  qvb::showUtf8OnConsole();
  const auto platform = qvb::makeSystemAudioPlatform();
  return qvb::runDriver(argc, argv, *platform);
}
