// qvblsp: the language server for QVM songs, for editors that speak the
// Language Server Protocol. It talks over standard input and output only;
// the editor starts it. Errors, warnings, hover help and completion come from
// the very compiler, player and guide that the other programs use, and songs
// play on the machine's sound output (or, with --null, on a silent one).
#include <csignal>
#include <cstdio>
#include <memory>
#include <string_view>

#include "lsp/stdio_server.h"
#include "sound/null_platform.h"
#include "sound/system_audio.h"
#include "qvbp_version.h"

namespace {

constexpr const char* kUsage =
    "usage: qvblsp [--stdio] [--null]\n"
    "  the language server for QVM songs, started by an editor: it reads the\n"
    "  protocol's messages on standard input and answers on standard output\n"
    "  --stdio     the same (the editors' usual way of saying so)\n"
    "  --null      play songs on a silent output paced by the clock\n"
    "  -h, --help  this text\n"
    "  --version   the program's version\n";

}  // namespace

int main(int argc, char** argv) {
  bool silent = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("qvblsp %s\n", qvb::kVersion);
      return 0;
    }
    if (arg == "--null") {
      silent = true;
      continue;
    }
    if (arg != "--stdio") {
      std::fprintf(stderr, "qvblsp: unknown option %s\n", argv[i]);
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  // An editor that goes away mid-answer is an end of the session, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  // A machine without a sound device plays on the silent output.
  std::unique_ptr<qvb::AudioPlatform> audio;
  if (!silent) audio = qvb::makeSystemAudioPlatform(qvb::DeviceRing::Short);
  if (!audio || audio->deviceCount() == 0) audio = std::make_unique<qvb::NullPlatform>();
  return qvb::lsp::serveOn(0, 1, audio.get());
}
