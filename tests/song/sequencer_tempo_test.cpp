// The sequencer on a real Mixer's timers: TEMPO changes the tick period from
// the next tick on, and the effect frame keeps its own period.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "song/sequencer.h"
#include "sound/mixer.h"
#include "sound/no_device_platform.h"
#include "tests/song/sequencer_fixture.h"

namespace qvb {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::SequencerSong;

class SequencerOnMixer : public testing::Test {
 protected:
  // Channel 0: TEMPO, then one-tick rests, so pos tells how many ticks ran.
  // Channel 1: a vibrato delay that is never reached, so noteFrames counts
  // the effect frames from the first one on.
  SequencerOnMixer() : song_({tempoTrack(), {0x80, 0xFF, 0xFF, 0xFF}}), mixer_(2, platform_) {
    song_.track(1).vibratoOn = 1;
    song_.track(1).vibratoDelay = 65535;
    mixer_.CopyVoices(voices_.data(), 2);
    song_.context.voices = voices_.data();
    song_.context.mixer = &mixer_;
    mixer_.SetTimer1(song_.context.tickInterval, effectFrameCallback, &song_.context);
    mixer_.SetTimer2(song_.context.tickInterval, tickCallback, &song_.context);
  }

  static Bytes tempoTrack() {
    Bytes bytes = {0x90, 0x00, 0xB8};  // 184 units = 736 values
    for (int i = 0; i < 40; ++i) bytes.insert(bytes.end(), {0x80, 0x01});
    bytes.push_back(0xFF);
    return bytes;
  }

  void fill(int values) {
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(values));
    const AudioFormat format{2, 2, 44100};
    Mixer::Fill(&format, &mixer_, reinterpret_cast<std::uint8_t*>(buffer.data()), values * 2);
  }
  // Ticks run so far: the first reads TEMPO and a rest, each later one a rest.
  int ticks() { return song_.track(0).pos == 0 ? 0 : (song_.track(0).pos - 3) / 2; }
  int frames() { return song_.track(1).noteFrames; }

  NoDevicePlatform platform_;
  SequencerSong song_;
  Mixer mixer_;
  std::array<Voice*, 2> voices_{};
};

TEST_F(SequencerOnMixer, TempoActsFromTheNextTick) {
  // The first tick (after 368 values, the raw first countdown) sets 184 units;
  // ticks then fall every 736 values: 1104, 1840, 2576, 3312, 4048. Effect
  // frames stay at 368, 1840, 3312.
  fill(367);
  EXPECT_EQ(ticks(), 0);
  fill(1);
  EXPECT_EQ(ticks(), 1);
  EXPECT_EQ(frames(), 1);
  EXPECT_EQ(song_.context.tickInterval, 184);
  fill(1104 - 368 - 1);
  EXPECT_EQ(ticks(), 1);
  fill(1);
  EXPECT_EQ(ticks(), 2);
  EXPECT_EQ(frames(), 1);
  fill(4096 - 1104);
  EXPECT_EQ(ticks(), 6);
  EXPECT_EQ(frames(), 3);
}

TEST_F(SequencerOnMixer, EffectFrameKeepsItsPeriodOverManyBuffers) {
  // Five buffers, 20480 values: ticks at 368 + 736k (k = 0..27), frames at
  // 368 + 1472k (k = 0..13).
  for (int i = 0; i < 5; ++i) fill(4096);
  EXPECT_EQ(ticks(), 28);
  EXPECT_EQ(frames(), 14);
}

}  // namespace
}  // namespace qvb
