// One hour of the looping demo song through the offline render: every
// channel must jump back to its mark exactly one loop length apart, and the
// memory the render holds must stay flat from the first minutes to the end.
#include <gtest/gtest.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "compiler/mml_compiler.h"
#include "render/render_session.h"

// Heap bytes in use, as the C library counts them: a render that kept what
// it made would show here.
#if defined(__GLIBC__)
long long liveHeapBytes() { return static_cast<long long>(mallinfo2().uordblks); }
#else
long long liveHeapBytes() { return 0; }  // the test skips: only glibc tells the heap in use
#endif

namespace qvb {
namespace {

constexpr std::int64_t kHour = 60 * 60 * kRenderRate;
// The demo: every channel sets its mark on the first tick and loops over
// sixteen bars of 192 ticks at t112, whose tick lasts 27562 / 112 timer units
// of two frames each.
constexpr std::int64_t kLoopTicks = 16 * 192;
constexpr std::int64_t kLoopFrames = kLoopTicks * (27562 / 112) * 2;
// The first tick falls on frame 184 (half the start interval of 368 units).
constexpr std::int64_t kMarkFrame = 184;
// Slack for the output's queue nodes coming and going.
constexpr long long kMemorySlack = 64 * 1024;

std::vector<std::uint8_t> demoImage() {
  std::ifstream in(QVBP_SOURCE_DIR "/examples/demo.qvm", std::ios::binary);
  const std::vector<std::uint8_t> source((std::istreambuf_iterator<char>(in)), {});
  MmlCompiler compiler(source.data(), static_cast<std::int32_t>(source.size()));
  if (compiler.status() != 0) return {};
  std::vector<std::uint8_t> image(static_cast<std::size_t>(compiler.imageSize()));
  compiler.copyImage(image.data());
  return image;
}

TEST(LongRender, AnHourOfLoopsLandsOnExactFramesWithFlatMemory) {
#ifdef QVBP_SANITIZED
  GTEST_SKIP() << "an hour of sound takes minutes under the sanitizers; the normal build runs it";
#endif
#if !defined(__GLIBC__)
  GTEST_SKIP() << "the flat-memory check reads glibc's heap figures";
#endif
  const std::vector<std::uint8_t> image = demoImage();
  ASSERT_FALSE(image.empty());
  RenderOptions options;
  options.loops = static_cast<int>(kHour / kLoopFrames + 1);  // the first loop count past an hour
  options.capFrames = 2 * kHour;
  long long settled = -1;
  long long peak = 0;
  RenderResult result;
  const bool ok = renderSong(
      image.data(), image.size(), options,
      [&](const std::int16_t*, std::int64_t) { return true; }, result,
      [&](std::int64_t written) {
        // Sampled once the render has run for ten minutes, then watched.
        if (settled < 0 && written >= 10 * 60 * kRenderRate) settled = liveHeapBytes();
        if (settled >= 0) peak = std::max(peak, liveHeapBytes());
      });
  ASSERT_TRUE(ok);
  const std::int64_t end = kMarkFrame + options.loops * kLoopFrames;
  EXPECT_GT(end, kHour);
  EXPECT_EQ(result.endFrame, end);
  EXPECT_EQ(result.framesWritten, end);
  EXPECT_FALSE(result.capped);
  ASSERT_EQ(result.channels.size(), 4u);
  for (std::size_t c = 0; c < result.channels.size(); ++c) {
    const ChannelEvents& e = result.channels[c];
    EXPECT_EQ(e.markFrame, kMarkFrame) << "channel " << c;
    EXPECT_EQ(e.firstJumpFrame, kMarkFrame + kLoopFrames) << "channel " << c;
    // The last of the jumps: any one that came early or late shifts it.
    EXPECT_EQ(e.doneFrame, end) << "channel " << c;
    EXPECT_EQ(e.finishFrame, -1) << "channel " << c;
  }
  ASSERT_GE(settled, 0);
  EXPECT_LE(peak, settled + kMemorySlack) << "bytes held after ten minutes: " << settled;
}

}  // namespace
}  // namespace qvb
