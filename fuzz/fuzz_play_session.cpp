// qvbplay's session driven by arbitrary steps on the silent device: opens
// and reloads of songs of 1 to 26 channels, pauses, seeks, restarts, mutes,
// solos, and the display's reads after each. Nothing may crash or read past
// what a song has.
#include <cstdint>
#include <string>
#include <vector>

#include "loader/song_loader.h"
#include "play/play_session.h"
#include "sound/null_platform.h"

namespace {

// Square and pulse voices only: their renders are cheap, and the session,
// not the voices (fuzzed elsewhere), is what this harness is for.
std::vector<std::uint8_t> songOf(int channels, std::uint8_t flavour) {
  std::string source = "#TITLE <f>\n#CHANNEL " + std::to_string(channels) + "\n";
  for (int c = 0; c < channels; ++c) {
    source += std::string("#") + static_cast<char>('A' + c) + " %" + std::to_string((flavour + c) % 2) +
              " v9 l16 " + ((flavour & 1) ? "$ " : "") + "c d e\n";
  }
  return qvb::loadSong({reinterpret_cast<const std::uint8_t*>(source.data()), source.size()}).image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvb::NullPlatform platform;
  qvb::PlaySession session(platform, size > 0 ? data[0] % 3 : 0);
  // Seeks stay within seconds of the start and steps are few: every seek runs
  // a fresh copy of the song up to its target, slow under the sanitizers.
  for (std::size_t i = 0; i + 1 < size && i < 32; i += 2) {
    const std::uint8_t op = data[i];
    const std::uint8_t arg = data[i + 1];
    switch (op % 9) {
      case 0: session.open(songOf(1 + arg % 26, arg), arg * 41); break;
      case 1: session.reload(songOf(1 + arg % 26, arg)); break;
      case 2: session.togglePause(); break;
      case 3: session.seekTo(static_cast<std::int64_t>(arg) * 41 - 1000); break;
      case 4: session.seekBy(static_cast<std::int64_t>(static_cast<std::int8_t>(arg)) * 97); break;
      case 5: session.toggleMute(arg % 30 - 2); break;
      case 6: session.solo(arg % 30 - 2); break;
      case 7: session.restart(); break;
      case 8: session.stop(); break;
    }
    session.channels();
    session.position();
    session.tickInterval();
    session.title();
    session.loopsHeard();
    session.reachedEnd();
  }
  return 0;
}
