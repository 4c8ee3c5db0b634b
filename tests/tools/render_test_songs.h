// Small songs and a reference square wave shared by the renderer's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/minimal_song.h"
#include "tests/support/qvb_image_builder.h"

namespace qvb::test {

// The 41-byte image of the minimal song: VOLUME 240, note 48 for 48 ticks, END.
inline std::vector<std::uint8_t> minimalImage() { return kMinimalImage; }

inline std::vector<std::uint8_t> songOf(std::vector<std::vector<std::uint8_t>> channels) {
  ImageContents contents;
  contents.title = "t";
  contents.channels = std::move(channels);
  return buildImage(contents);
}

// A square voice by its rule: the sign is + while the position is 1; the
// phase grows by 2f a frame and each pass over the rate flips the position.
struct SquareModel {
  int phase = 0;
  int position = 0;
  int next(int frequency, int level) {
    const int value = position != 0 ? level : -level;
    phase += 2 * frequency;
    while (phase > 44100) {
      phase -= 44100;
      position ^= 1;
    }
    return value;
  }
};

// Frame timing of a song at the start tempo: the first tick falls after 184
// frames, the next ones every 736.
constexpr std::int64_t tickFrame(std::int64_t tick) { return 184 + 736 * tick; }

// The minimal image as rendered: both sides of every frame. The voice's
// phase already ran at 440 Hz through the eight silent lead-in buffers
// (16384 frames) and the first 184 frames.
inline std::vector<std::int16_t> minimalImageSound() {
  SquareModel square;
  for (int i = 0; i < 16384 + 184; ++i) square.next(440, 0);
  std::vector<std::int16_t> sound(2 * 184, 0);
  for (std::int64_t f = tickFrame(0); f < tickFrame(48); ++f) {
    const auto v = static_cast<std::int16_t>(square.next(130, 240 * 16));
    sound.push_back(v);
    sound.push_back(v);
  }
  return sound;
}

}  // namespace qvb::test
