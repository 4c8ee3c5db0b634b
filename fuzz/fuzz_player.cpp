// Loads arbitrary bytes as a QVB image and, when they load, plays the song by
// calling the Mixer's fill by hand: in one of the four output layouts at one
// of the two rates, with time running fast or at the song's own pace, then
// loads the same bytes again into the same player and plays them once more.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fast_play.h"
#include "song/qvb_player.h"

namespace {

constexpr int kFills = 96;
constexpr std::int32_t kFillBytes = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qvb::fuzz::check;
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact size: overreads are caught
  // The choice depends on the size, so every image meets every layout.
  const qvb::AudioFormat& format = qvb::fuzz::kFormats[size % 8];
  const bool fast = (size / 8) % 4 != 0;
  qvb::QvbPlayer player(bytes.data(), bytes.size());
  if (player.getStatus() != qvb::PLAYER_READY) return 0;
  for (int round = 0; round < 2; ++round) {
    check(player.start() == 1 && player.getStatus() == qvb::PLAYER_PLAYING);
    qvb::fuzz::playFills(player, format, kFills, kFillBytes, fast);
    // The second load replaces the image under a playing song.
    if (round == 0) check(player.load(bytes.data(), bytes.size()) == qvb::PLAYER_READY);
  }
  return 0;
}
