#include "render/offline_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace qvb {
namespace {

// Stands in for the wave output: queues its buffers while paused, and on
// every finished buffer (while running) writes the next number into it and
// queues it again.
struct Ring {
  explicit Ring(OfflinePlatform& p) : platform(p) {}
  OfflinePlatform& platform;
  std::array<std::array<std::int16_t, 6>, 3> storage{};
  std::array<AudioBuffer, 3> buffers{};
  bool running = true;
  std::int16_t next = 100;
  std::vector<AudioBuffer*> handedBack;

  static void done(void* instance, AudioBuffer* buffer) {
    auto& ring = *static_cast<Ring*>(instance);
    ring.handedBack.push_back(buffer);
    if (!ring.running) return;
    auto* samples = reinterpret_cast<std::int16_t*>(buffer->data);
    for (int i = 0; i < 6; ++i) samples[i] = ring.next;
    ++ring.next;
    ring.platform.prepare(*buffer);
    ring.platform.write(*buffer);
  }

  bool start() {
    if (!platform.open(0, AudioFormat{}, &Ring::done, this)) return false;
    platform.pause();
    for (std::size_t j = 0; j < buffers.size(); ++j) {
      storage[j].fill(static_cast<std::int16_t>(j + 1));  // the lead-in, not rendered sound
      buffers[j].data = reinterpret_cast<std::uint8_t*>(storage[j].data());
      buffers[j].length = sizeof storage[j];
      if (!platform.prepare(buffers[j]) || !platform.write(buffers[j])) return false;
    }
    return true;
  }
};

TEST(OfflinePlatform, OffersOneDeviceForSixteenBitStereoAt44100Only) {
  OfflinePlatform platform;
  std::uint32_t formats = 0;
  EXPECT_EQ(platform.deviceCount(), 1);
  EXPECT_EQ(platform.deviceFormats(0, formats), 0);
  EXPECT_EQ(formats, kFormat4S16);
  EXPECT_NE(platform.deviceFormats(1, formats), 0);
  EXPECT_FALSE(platform.open(0, AudioFormat{2, 2, 22050}, &Ring::done, nullptr));
  EXPECT_FALSE(platform.open(0, AudioFormat{1, 2, 44100}, &Ring::done, nullptr));
}

TEST(OfflinePlatform, HandsOutRefillsInRingOrderButNotTheLeadIn) {
  OfflinePlatform platform;
  Ring ring{platform};
  ASSERT_TRUE(ring.start());
  EXPECT_FALSE(platform.finishNext()) << "nothing finishes while paused";
  platform.restart();
  for (int k = 0; k < 7; ++k) {
    ASSERT_TRUE(platform.finishNext());
    ASSERT_EQ(ring.handedBack.size(), static_cast<std::size_t>(k + 1));
    EXPECT_EQ(ring.handedBack.back(), &ring.buffers[static_cast<std::size_t>(k % 3)]);
    EXPECT_EQ(platform.lastFill(), std::vector<std::int16_t>(6, static_cast<std::int16_t>(100 + k)));
  }
}

TEST(OfflinePlatform, ResetHandsEveryBufferBackAndNothingRunsAfterIt) {
  OfflinePlatform platform;
  Ring ring{platform};
  ASSERT_TRUE(ring.start());
  platform.restart();
  ASSERT_TRUE(platform.finishNext());
  ring.running = false;
  ring.handedBack.clear();
  platform.reset();
  EXPECT_EQ(ring.handedBack.size(), 3u);
  EXPECT_EQ(platform.queued(), 0u);
  EXPECT_FALSE(platform.finishNext());
  platform.close();
  EXPECT_FALSE(platform.isOpen());
}

TEST(OfflinePlatform, AnOutputThatDoesNotRequeueEndsTheRender) {
  OfflinePlatform platform;
  Ring ring{platform};
  ASSERT_TRUE(ring.start());
  platform.restart();
  ring.running = false;  // takes the buffer back without queueing it again
  EXPECT_FALSE(platform.finishNext());
  EXPECT_FALSE(platform.finishNext());
  EXPECT_FALSE(platform.finishNext());
  EXPECT_FALSE(platform.finishNext());
  EXPECT_EQ(platform.queued(), 0u);
}

}  // namespace
}  // namespace qvb
