#include "render/render_session.h"

#include <gtest/gtest.h>

#include <vector>

#include "render/song_figures.h"
#include "tests/tools/render_test_songs.h"

namespace qvb {
namespace {

using test::songOf;
using test::tickFrame;

struct Rendered {
  bool ok = false;
  RenderResult result;
  std::vector<std::int16_t> samples;
};

Rendered render(const std::vector<std::uint8_t>& image, RenderOptions options) {
  Rendered r;
  r.ok = renderSong(
      image.data(), image.size(), options,
      [&](const std::int16_t* s, std::int64_t frames) {
        r.samples.insert(r.samples.end(), s, s + 2 * frames);
        return true;
      },
      r.result);
  return r;
}

RenderOptions loops(int n, std::int64_t fade = 0) {
  RenderOptions o;
  o.loops = n;
  o.fadeFrames = fade;
  return o;
}

RenderOptions exactly(std::int64_t frames, std::int64_t fade = 0) {
  RenderOptions o;
  o.lengthFrames = frames;
  o.fadeFrames = fade;
  return o;
}

TEST(RenderSong, MinimalImageIsTheSquareForFortyEightTicksAndEndsThere) {
  const Rendered r = render(test::minimalImage(), RenderOptions{});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result.endFrame, tickFrame(48));
  EXPECT_TRUE(r.result.finished);
  EXPECT_EQ(r.result.framesWritten, 35512);
  const std::vector<std::int16_t> expected = test::minimalImageSound();
  ASSERT_EQ(r.samples.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(r.samples[i], expected[i]) << "value " << i << ", frame " << i / 2;
  }
}

TEST(RenderSong, ExactLengthIsAPrefixOfTheSameStream) {
  const Rendered longer = render(test::minimalImage(), exactly(50000));
  ASSERT_TRUE(longer.ok);
  ASSERT_EQ(longer.samples.size(), 100000u);
  // Past the song's end the stream is silence.
  for (std::size_t i = 2 * 35512; i < longer.samples.size(); ++i) ASSERT_EQ(longer.samples[i], 0);
  for (std::int64_t frames : {0, 1, 183, 2047, 2048, 2049, 4097, 35513}) {
    const Rendered r = render(test::minimalImage(), exactly(frames));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result.framesWritten, frames);
    ASSERT_EQ(r.samples.size(), static_cast<std::size_t>(2 * frames));
    EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), longer.samples.begin())) << frames;
  }
}

TEST(RenderSong, EventsLandOnTheirTickFrames) {
  struct Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> channels;
    int loops;
    std::int64_t end;
    bool finished;
    std::int64_t mark, firstJump;  // of channel 0
  };
  const Case cases[] = {
      // TEMPO 229 makes every tick after the first come 458 frames apart.
      {"tempo", {{0x90, 0x00, 0xE5, 0x81, 0xF0, 0x3C, 0x03, 0xFF}}, 2, 184 + 3 * 458, true, -1, -1},
      {"mark at start", {{0x81, 0xF0, 0xE0, 0x3C, 0x10, 0xFF}}, 2, tickFrame(32), false,
       tickFrame(0), tickFrame(16)},
      {"intro then loop", {{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}}, 2, tickFrame(40),
       false, tickFrame(8), tickFrame(24)},
      {"no loops: up to the mark", {{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}}, 0,
       tickFrame(8), false, tickFrame(8), -1},
      {"one loop", {{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}}, 1, tickFrame(24), false,
       tickFrame(8), tickFrame(24)},
      // The longer channel decides, even though the other one loops.
      {"finite channel outlasts the loops",
       {{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}, {0x81, 0xF0, 0x40, 0x60, 0xFF}}, 2,
       tickFrame(96), false, tickFrame(8), tickFrame(24)},
      {"two finite channels", {{0x81, 0xF0, 0x3C, 0x05, 0xFF}, {0x81, 0xF0, 0x40, 0x07, 0xFF}}, 2,
       tickFrame(7), true, -1, -1},
      {"only END", {{0xFF}}, 2, tickFrame(0), true, -1, -1},
      {"no channels", {}, 2, 0, true, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Rendered r = render(songOf(c.channels), loops(c.loops));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result.endFrame, c.end);
    EXPECT_EQ(r.result.framesWritten, c.end);
    EXPECT_EQ(r.result.finished, c.finished);
    EXPECT_FALSE(r.result.capped);
    if (c.channels.empty()) continue;
    EXPECT_EQ(r.result.channels.at(0).markFrame, c.mark);
    EXPECT_EQ(r.result.channels.at(0).firstJumpFrame, c.firstJump);
  }
}

// Channel A loops 16 ticks from tick 8; B plays one note until tick 96. The
// song repeats from the first start of A's loop after B is silent: tick 104.
TEST(SongFigures, ASongRepeatsOnlyOnceTheChannelsWithoutALoopHaveFinished) {
  const std::vector<std::uint8_t> image =
      songOf({{0x81, 0xF0, 0x3C, 0x08, 0xE0, 0x3E, 0x10, 0xFF}, {0x81, 0xF0, 0x40, 0x60, 0xFF}});
  const Rendered r = render(image, loops(9));
  ASSERT_TRUE(r.ok);
  const SongFigures f = songFigures(r.result);
  const std::int64_t loop = tickFrame(24) - tickFrame(8);
  EXPECT_EQ(f.loopFrames, loop);
  EXPECT_EQ(f.introFrames, tickFrame(8) + 6 * loop);
  // The first such start: the pass before it begins while B still sounds.
  const std::int64_t finish = r.result.channels[1].finishFrame;
  EXPECT_EQ(finish, tickFrame(96));
  EXPECT_GE(f.introFrames, finish);
  EXPECT_LT(f.introFrames - loop, finish);
}

TEST(RenderSong, TempoSongSoundsUpToItsLastTickOnly) {
  const auto image = songOf({{0x90, 0x00, 0xE5, 0x81, 0xF0, 0x3C, 0x03, 0xFF}});
  const Rendered r = render(image, exactly(3000));
  ASSERT_TRUE(r.ok);
  const auto frame = [&](std::int64_t f) { return r.samples[static_cast<std::size_t>(2 * f)]; };
  EXPECT_EQ(frame(183), 0);
  EXPECT_EQ(std::abs(frame(184)), 3840);
  EXPECT_EQ(std::abs(frame(1557)), 3840);
  for (std::int64_t f = 1558; f < 3000; ++f) ASSERT_EQ(frame(f), 0) << f;
}

TEST(RenderSong, FadeScalesTheFramesAfterTheEndPoint) {
  const auto image = songOf({{0x81, 0xF0, 0xE0, 0x3C, 0x10, 0xFF}});
  const std::int64_t end = tickFrame(16);
  const Rendered plain = render(image, exactly(end + 1000));
  const Rendered faded = render(image, loops(1, 1000));
  ASSERT_TRUE(plain.ok && faded.ok);
  EXPECT_EQ(faded.result.fadeStart, end);
  ASSERT_EQ(faded.samples.size(), plain.samples.size());
  for (std::int64_t f = 0; f < end + 1000; ++f) {
    const std::int64_t keep = f < end ? 1000 : end + 1000 - f;
    for (int side = 0; side < 2; ++side) {
      const auto i = static_cast<std::size_t>(2 * f + side);
      ASSERT_EQ(faded.samples[i], plain.samples[i] * keep / 1000) << "frame " << f;
    }
  }
  // The loud part really was faded, not silent to begin with.
  EXPECT_NE(plain.samples[static_cast<std::size_t>(2 * (end + 500))], 0);
}

TEST(RenderSong, NoFadeAfterASongThatFinished) {
  const Rendered r = render(test::minimalImage(), loops(2, 4410));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.result.framesWritten, 35512);
  EXPECT_EQ(r.result.fadeStart, -1);
}

TEST(RenderSong, ExactLengthWithFadeEndsTheFadeAtTheLength) {
  const auto image = songOf({{0x81, 0xF0, 0xE0, 0x3C, 0x10, 0xFF}});
  const Rendered plain = render(image, exactly(5001));
  const Rendered faded = render(image, exactly(5001, 2000));
  ASSERT_TRUE(plain.ok && faded.ok);
  EXPECT_EQ(faded.result.fadeStart, 3001);
  for (std::int64_t f : {0, 3000, 3001, 4000, 5000}) {
    const std::int64_t keep = f < 3001 ? 2000 : 5001 - f;
    const auto i = static_cast<std::size_t>(2 * f);
    EXPECT_EQ(faded.samples[i], plain.samples[i] * keep / 2000) << f;
  }
}

TEST(RenderSong, StopsAtTheCapWhenTheSongGoesOn) {
  // One note of 65535 ticks: far longer than the cap.
  const auto image = songOf({{0x81, 0xF0, 0x3C, 0xFF, 0xFF, 0xFF, 0xFF}});
  RenderOptions o;
  o.capFrames = 10001;
  o.fadeFrames = 99;
  const Rendered r = render(image, o);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.result.capped);
  EXPECT_EQ(r.result.endFrame, -1);
  EXPECT_EQ(r.result.framesWritten, 10100);
  EXPECT_EQ(r.result.fadeStart, 10001);
}

TEST(RenderSong, RefusesWhatIsNoImageAndStopsWhenTheSinkFails) {
  const std::vector<std::uint8_t> text = {'#', 'T', 'I', 'T', 'L', 'E'};
  EXPECT_FALSE(render(text, RenderOptions{}).ok);

  const auto image = test::minimalImage();
  RenderResult result;
  int calls = 0;
  EXPECT_FALSE(renderSong(
      image.data(), image.size(), RenderOptions{},
      [&](const std::int16_t*, std::int64_t) { return ++calls < 2; }, result));
  EXPECT_EQ(calls, 2);
}

TEST(ApplyFade, ScalesOnlyTheFadeWindowOfAStretch) {
  // Frames 10..19 of a fade over frames 12..15 (4 frames long).
  std::vector<std::int16_t> s(20, 1000);
  s[7] = -1001;  // frame 13, right side: -750.75 is truncated toward zero
  applyFade(s.data(), 10, 10, 12, 4);
  const std::vector<std::int16_t> expected = {1000, 1000, 1000, 1000, 1000, 1000, 750, -750,
                                              500,  500,  250,  250,  1000, 1000, 1000, 1000,
                                              1000, 1000, 1000, 1000};
  EXPECT_EQ(s, expected);
  std::vector<std::int16_t> odd = {-7, 7};
  applyFade(odd.data(), 1, 0, -2, 3);  // the fade's last frame keeps a third
  EXPECT_EQ(odd, (std::vector<std::int16_t>{-2, 2}));
}

}  // namespace
}  // namespace qvb
