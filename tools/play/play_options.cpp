#include "play/play_options.h"

#include <string_view>

#include "render/seconds.h"

namespace qvb {

const char* const kPlayUsage =
    "usage: qvbplay [options] FILE\n"
    "plays a .qvm source or a .qvb image and shows where it is\n"
    "  --start TIME     begin TIME seconds in (decimals allowed)\n"
    "  -l LOOPS         stop after the song has looped LOOPS times (default: for ever)\n"
    "  --mute LETTERS   start with these channels muted (e.g. --mute BD)\n"
    "  --watch          reload FILE whenever it is saved, at the same place\n"
    "  --device NAME    play on this output device\n"
    "  --list-devices   list the output devices and exit\n"
    "  --null           no device: a silent output paced by the clock\n"
    "  --follow         write one JSON line per note and rest as it is heard (for editors)\n"
    "  --verbose        count the device's underruns (gaps heard), shown and told on exit\n"
    "  -h, --help       this text\n"
    "  --version        the program's version\n"
    "keys: space pause, 1-9 mute, s then 1-9 solo, up/down then m or o mute or solo any channel,\n"
    "  a then b repeat a section, r restart, left/right 5 s, q or Esc quit\n";

std::optional<PlayOptions> parsePlayOptions(int argc, const char* const* argv, std::string& error) {
  PlayOptions o;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view v;
    if (arg == "-h" || arg == "--help") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg == "--list-devices") {
      o.listDevices = true;
    } else if (arg == "--null") {
      o.null = true;
    } else if (arg == "--watch") {
      o.watch = true;
    } else if (arg == "--follow") {
      o.follow = true;
    } else if (arg == "--verbose") {
      o.verbose = true;
    } else if (arg == "--start") {
      if (!value(v)) return std::nullopt;
      const auto frames = secondsToFrames(v);
      if (!frames) {
        error = "--start takes seconds, not '" + std::string(v) + "'";
        return std::nullopt;
      }
      o.startFrames = *frames;
    } else if (arg == "-l") {
      if (!value(v)) return std::nullopt;
      int n = 0;
      bool ok = !v.empty() && v.size() <= 6;
      for (const char c : v) ok = ok && c >= '0' && c <= '9';
      for (const char c : v) n = ok ? n * 10 + (c - '0') : 0;
      if (!ok || n < 1) {
        error = "-l takes a number of loops from 1, not '" + std::string(v) + "'";
        return std::nullopt;
      }
      o.loops = n;
    } else if (arg == "--mute") {
      if (!value(v)) return std::nullopt;
      for (const char c : v) {
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper < 'A' || upper > 'Z') {
          error = "--mute takes channel letters, not '" + std::string(v) + "'";
          return std::nullopt;
        }
        o.mute += upper;
      }
    } else if (arg == "--device") {
      if (!value(v)) return std::nullopt;
      o.device = v;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + std::string(arg);
      return std::nullopt;
    } else if (o.input.empty()) {
      o.input = arg;
    } else {
      error = "one file only";
      return std::nullopt;
    }
  }
  if (o.input.empty() && !o.help && !o.version && !o.listDevices) {
    error = "no file given";
    return std::nullopt;
  }
  return o;
}

}  // namespace qvb
