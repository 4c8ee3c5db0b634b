// qvbplay's command line: qvbplay [options] FILE.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qvb {

struct PlayOptions {
  std::string input;
  std::int64_t startFrames = 0;
  int loops = 0;           // 0: for ever
  std::string mute;        // channel letters, upper case
  bool listDevices = false;
  std::string device;      // empty: the first that opens
  bool null = false;
  bool watch = false;
  bool follow = false;  // one JSON line per note and rest heard, on standard output
  bool verbose = false;  // the device's underruns, in the display and on exit
  bool help = false;
  bool version = false;
};

// nullopt with a one-line reason in error.
std::optional<PlayOptions> parsePlayOptions(int argc, const char* const* argv, std::string& error);

extern const char* const kPlayUsage;

}  // namespace qvb
