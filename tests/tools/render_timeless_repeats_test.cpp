// A song whose repeats take no time plays what follows them at once: the
// loops of "/:255 /:255 v15 :/ :/ c" leave only the volume behind, so the
// song sounds exactly like "v15 c".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compiler/mml_compiler.h"
#include "render/render_session.h"
#include "tests/tools/render_test_songs.h"

namespace qvb {
namespace {

std::vector<std::uint8_t> compiled(const std::string& source) {
  const MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()),
                             static_cast<std::int32_t>(source.size()));
  if (compiler.status() != 0) return {};
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  compiler.copyImage(image.data());
  return image;
}

TEST(RenderTimelessRepeats, NestedLoopsOfOneCommandSoundLikeTheCommandOnce) {
  const std::vector<std::uint8_t> image = compiled("#TITLE <a>\n#CHANNEL 1\n#A /:255 /:255 v15 :/ :/ c\n");
  ASSERT_FALSE(image.empty());
  std::vector<std::int16_t> samples;
  RenderResult result;
  ASSERT_TRUE(renderSong(
      image.data(), image.size(), RenderOptions{},
      [&](const std::int16_t* s, std::int64_t frames) {
        samples.insert(samples.end(), s, s + 2 * frames);
        return true;
      },
      result));
  EXPECT_EQ(result.endFrame, test::tickFrame(48));
  const std::vector<std::int16_t> expected = test::minimalImageSound();
  ASSERT_EQ(samples.size(), expected.size());
  EXPECT_TRUE(samples == expected);
}

}  // namespace
}  // namespace qvb
