#include "sound/wave_out.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/fake_audio_platform.h"

namespace qvb {
namespace {

using test::FakeAudioPlatform;
using test::FakeDevice;

// A fill that stamps each buffer with its fill number and checks the protocol:
// buffers arrive zeroed, fills never overlap, none runs once the device is reset.
struct FillProbe {
  FakeAudioPlatform* fake = nullptr;
  std::atomic<int> active{0};
  int fills = 0;
  std::vector<const std::uint8_t*> buffers;
  std::vector<std::string> faults;
  AudioFormat lastFormat{};

  static void Fill(const AudioFormat* format, void* context, std::uint8_t* buffer, std::int32_t bytes) {
    auto* self = static_cast<FillProbe*>(context);
    if (self->active.fetch_add(1) != 0) self->faults.push_back("concurrent fill");
    if (self->fake != nullptr && self->fake->wasReset()) self->faults.push_back("fill after teardown");
    if (bytes != kWaveBufferBytes) self->faults.push_back("size");
    if (std::any_of(buffer, buffer + bytes, [](std::uint8_t b) { return b != 0; })) {
      self->faults.push_back("buffer not cleared");
    }
    self->lastFormat = *format;
    self->buffers.push_back(buffer);
    ++self->fills;
    std::fill_n(buffer, bytes, static_cast<std::uint8_t>(self->fills));
    self->active.fetch_sub(1);
  }
};

struct ChoiceCase {
  const char* name;
  std::vector<FakeDevice> devices;
  AudioFormat requested;
  bool opens;
  int device;
  AudioFormat chosen;
};

TEST(WaveOut, ChoosesTheBestFormatBeforeTheLowestDevice) {
  const std::uint32_t all = 0xFF0;
  const ChoiceCase cases[] = {
      {"better format on device 1", {{kFormat2S16}, {kFormat4S16}}, {2, 2, 44100}, true, 1, {2, 2, 44100}},
      {"only 8-bit mono 44100", {{kFormat4M08}}, {2, 2, 44100}, true, 0, {1, 1, 44100}},
      {"16-bit stereo 22050 beats 8-bit stereo", {{kFormat4S08 | kFormat2S16}}, {2, 2, 44100}, true, 0, {2, 2, 22050}},
      {"8-bit stereo 22050 beats 16-bit mono", {{kFormat2S08}, {kFormat4M16}}, {2, 2, 44100}, true, 0, {1, 2, 22050}},
      {"failing query is skipped", {{all, true}, {kFormat2S16}}, {2, 2, 44100}, true, 1, {2, 2, 22050}},
      {"lowest device wins a tie", {{all}, {all}}, {2, 2, 44100}, true, 0, {2, 2, 44100}},
      {"requested 22050 skips try 1", {{kFormat4S16}}, {2, 2, 22050}, false, -1, {1, 1, 22050}},
      {"requested 22050 steps down", {{kFormat4S16 | kFormat4S08}}, {2, 2, 22050}, true, 0, {1, 2, 44100}},
      {"no devices", {}, {2, 2, 44100}, false, -1, {1, 1, 22050}},
      {"nothing supported", {{0}, {0}}, {2, 2, 44100}, false, -1, {1, 1, 22050}},
  };
  for (const ChoiceCase& c : cases) {
    FakeAudioPlatform fake(c.devices);
    FillProbe probe;
    AudioFormat requested = c.requested;
    WaveOut out(&FillProbe::Fill, &probe, &requested, fake);
    EXPECT_EQ(out.running(), c.opens) << c.name;
    EXPECT_EQ(requested, c.chosen) << c.name;
    if (c.opens) {
      EXPECT_EQ(fake.openedDevice(), c.device) << c.name;
      EXPECT_EQ(fake.openedFormat(), c.chosen) << c.name;
      EXPECT_EQ(out.format(), c.chosen) << c.name;
      EXPECT_EQ(probe.lastFormat, c.chosen) << c.name;
    } else {
      EXPECT_FALSE(fake.isOpen()) << c.name;
      EXPECT_EQ(probe.fills, 0) << c.name;
    }
  }
}

TEST(WaveOut, NullRequestMeansSixteenBitStereo44100) {
  FakeAudioPlatform fake(std::vector<FakeDevice>{{0xFF0}});
  WaveOut out(nullptr, nullptr, nullptr, fake);
  ASSERT_TRUE(out.running());
  EXPECT_EQ(out.format(), (AudioFormat{2, 2, 44100}));
}

TEST(WaveOut, NextFormatWalksTheEightTries) {
  const AudioFormat tries[] = {{2, 2, 44100}, {2, 2, 22050}, {1, 2, 44100}, {1, 2, 22050},
                               {2, 1, 44100}, {2, 1, 22050}, {1, 1, 44100}, {1, 1, 22050}};
  AudioFormat f{2, 2, 44100};
  for (std::size_t i = 1; i < std::size(tries); ++i) {
    ASSERT_TRUE(WaveOut::NextFormat(&f));
    EXPECT_EQ(f, tries[i]) << "try " << i + 1;
  }
  EXPECT_FALSE(WaveOut::NextFormat(&f));
  EXPECT_EQ(f, tries[7]);
}

TEST(WaveOut, FormatFlags) {
  const std::pair<AudioFormat, std::uint32_t> cases[] = {
      {{1, 1, 44100}, 0x100}, {{1, 2, 44100}, 0x200}, {{2, 1, 44100}, 0x400}, {{2, 2, 44100}, 0x800},
      {{1, 1, 22050}, 0x10},  {{1, 2, 22050}, 0x20},  {{2, 1, 22050}, 0x40},  {{2, 2, 22050}, 0x80},
      {{3, 5, 11025}, 0x80},  {{0, 0, 44100}, 0x800}};
  for (const auto& [format, flag] : cases) {
    EXPECT_EQ(formatFlag(format), flag) << format.bytesPerSample << "/" << format.channels << "/"
                                        << format.sampleRate;
  }
}

TEST(WaveOut, OpenFailureTriesNoOtherDeviceAndFillsNothing) {
  FakeAudioPlatform fake({{kFormat4S16, false, true}, {kFormat4S16}});
  FillProbe probe;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  EXPECT_FALSE(out.running());
  EXPECT_EQ(probe.fills, 0);
  EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "open 0"), 1);
  EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "open 1"), 0);
  EXPECT_EQ(fake.buffersHeld(), 0);
  const std::size_t callsBefore = fake.calls().size();
  out.Close();  // teardown after a failed start does nothing
  EXPECT_EQ(fake.calls().size(), callsBefore);
}

TEST(WaveOut, FailedBufferAllocationGivesBackTheEarlierOnesLastFirst) {
  FakeAudioPlatform fake;
  fake.allocationFailsAt = 3;
  FillProbe probe;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  EXPECT_FALSE(out.running());
  EXPECT_EQ(probe.fills, 0);
  EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "open 0"), 0);
  EXPECT_EQ(fake.freedBuffers(), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(fake.buffersHeld(), 0);
}

TEST(WaveOut, BuffersComeFromThePlatformAndGoBackAtTeardown) {
  FakeAudioPlatform fake;
  {
    WaveOut out(nullptr, nullptr, nullptr, fake);
    ASSERT_TRUE(out.running());
    EXPECT_EQ(fake.buffersHeld(), 8);
  }
  EXPECT_EQ(fake.buffersHeld(), 0);
  EXPECT_EQ(fake.freedBuffers().size(), 8u);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(WaveOut, StartsPausedWithEightFilledBuffersThenRestarts) {
  FakeAudioPlatform fake;
  FillProbe probe;
  probe.fake = &fake;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  ASSERT_TRUE(out.running());
  std::vector<std::string> expected = {"query 0", "open 0", "pause"};
  for (int j = 0; j < kWaveBufferCount; ++j) {
    expected.push_back("prepare");
    expected.push_back("write");
  }
  expected.push_back("restart");
  EXPECT_EQ(fake.calls(), expected);
  EXPECT_EQ(probe.fills, 8);
  ASSERT_EQ(fake.writes().size(), 8u);
  for (std::size_t j = 0; j < 8; ++j) {
    EXPECT_EQ(fake.writes()[j], std::vector<std::uint8_t>(kWaveBufferBytes, static_cast<std::uint8_t>(j + 1)));
  }
  EXPECT_EQ(fake.queued(), 8);
  EXPECT_TRUE(probe.faults.empty());
}

TEST(WaveOut, BuffersCirculateInRingOrderAndArriveCleared) {
  FakeAudioPlatform fake;
  FillProbe probe;
  probe.fake = &fake;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  EXPECT_EQ(fake.finishNext(21), 21);
  ASSERT_EQ(probe.fills, 29);
  for (std::size_t i = 8; i < probe.buffers.size(); ++i) {
    EXPECT_EQ(probe.buffers[i], probe.buffers[i % 8]) << "fill " << i;
  }
  EXPECT_EQ(fake.queued(), 8);
  EXPECT_EQ(fake.writes().back(), std::vector<std::uint8_t>(kWaveBufferBytes, 29));
  EXPECT_TRUE(probe.faults.empty()) << probe.faults.front();
  EXPECT_TRUE(fake.violations().empty());
}

TEST(WaveOut, TeardownHandsBuffersBackWithoutRequeueingAndOnlyOnce) {
  FakeAudioPlatform fake;
  FillProbe probe;
  probe.fake = &fake;
  {
    WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
    fake.finishNext(3);
    const std::size_t before = fake.calls().size();
    out.Close();
    EXPECT_FALSE(out.running());
    std::vector<std::string> tail(fake.calls().begin() + static_cast<long>(before), fake.calls().end());
    std::vector<std::string> expected = {"reset"};
    for (int j = 0; j < kWaveBufferCount; ++j) expected.push_back("unprepare");
    expected.push_back("close");
    EXPECT_EQ(tail, expected);
    out.Close();
    EXPECT_EQ(fake.calls().size(), before + expected.size());
  }  // the destructor after Close does nothing either
  EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "close"), 1);
  EXPECT_EQ(probe.fills, 11);
  EXPECT_EQ(fake.queued(), 0);
  EXPECT_TRUE(probe.faults.empty());
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

TEST(WaveOut, FailedQueueingAtStartStopsQueueingButNotFilling) {
  FakeAudioPlatform fake;
  fake.prepareFailsFrom = 3;
  FillProbe probe;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  EXPECT_TRUE(out.running());
  EXPECT_EQ(probe.fills, 8);
  EXPECT_EQ(fake.queued(), 3);
  EXPECT_EQ(std::count(fake.calls().begin(), fake.calls().end(), "prepare"), 4);
}

TEST(WaveOut, FailedWriteInTheNotificationDropsThatBuffer) {
  FakeAudioPlatform fake;
  fake.writeFailsFrom = 10;  // the initial 8 and two refills succeed
  FillProbe probe;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  EXPECT_EQ(fake.finishNext(100), 10);  // 8 queued at start, 2 requeued, then each drops out
  EXPECT_EQ(fake.queued(), 0);
  EXPECT_TRUE(out.running());
}

TEST(WaveOut, WithoutAFillBuffersStaySilent) {
  FakeAudioPlatform fake;
  WaveOut out(nullptr, nullptr, nullptr, fake);
  fake.finishNext(9);
  for (const auto& w : fake.writes()) EXPECT_EQ(w, std::vector<std::uint8_t>(kWaveBufferBytes, 0));
  EXPECT_EQ(fake.writes().size(), 17u);
}

TEST(WaveOut, NotificationsFromSeveralThreadsNeverOverlapFills) {
  FakeAudioPlatform fake;
  fake.recordWrites = false;
  FillProbe probe;
  probe.fake = &fake;
  WaveOut out(&FillProbe::Fill, &probe, nullptr, fake);
  std::thread a([&] { fake.finishNext(200); });
  std::thread b([&] { fake.finishNext(200); });
  a.join();
  b.join();
  out.Close();
  EXPECT_EQ(probe.fills, 408);
  EXPECT_TRUE(probe.faults.empty()) << probe.faults.front();
  EXPECT_TRUE(fake.violations().empty());
}

TEST(WaveOut, DriverVersion) { EXPECT_FLOAT_EQ(GetDriverVersion(), 0.85f); }

}  // namespace
}  // namespace qvb
