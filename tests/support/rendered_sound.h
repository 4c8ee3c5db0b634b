// The first frames of a song as the offline renderer makes them: the
// reference every host's sound is held to. For test programs that link the
// render session.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "render/render_session.h"

namespace qvb::test {

inline std::vector<std::int16_t> renderedSound(const std::vector<std::uint8_t>& image, std::int64_t frames) {
  RenderOptions options;
  options.lengthFrames = frames;
  std::vector<std::int16_t> sound;
  RenderResult result;
  EXPECT_TRUE(renderSong(image.data(), image.size(), options,
                         [&](const std::int16_t* part, std::int64_t n) {
                           sound.insert(sound.end(), part, part + 2 * n);
                           return true;
                         },
                         result));
  return sound;
}

}  // namespace qvb::test
