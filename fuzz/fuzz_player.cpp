// Loads arbitrary bytes as a QVB image and, when they load, plays a few
// buffers of the song by calling the Mixer's fill by hand.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "song/qvb_player.h"
#include "sound/mixer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: overreads are caught
  qvb::QvbPlayer player(bytes.data(), bytes.size());
  if (player.getStatus() != qvb::PLAYER_READY || player.start() != 1) return 0;
  qvb::Mixer* mixer = player.mixer();
  if (mixer == nullptr) return 0;
  const qvb::AudioFormat format;
  std::vector<std::uint8_t> buffer(8192);
  for (int i = 0; i < 16; ++i) {
    std::fill(buffer.begin(), buffer.end(), 0);
    qvb::Mixer::Fill(&format, mixer, buffer.data(), static_cast<std::int32_t>(buffer.size()));
  }
  return 0;
}
