// Blocks of random bytes, in images of version 0.81 (the exporter's layout):
// whatever the bytes (unknown commands, items cut by the block's end, blocks
// without END, zero lengths, repeat levels without a slot), the driver in
// gbsplay ends the channels, loops and plays exactly where the sequencer does.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <random>

#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "tests/gameboy/gb_harness.h"
#include "tests/support/qvb_image_builder.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

TEST(GbsBadInput, randomBlocksEndLoopAndPlayWhereTheSequencerDoes) {
  const std::string dir = makeTempDir();
  int played = 0, events = 0;
  for (std::uint32_t seed = 1; played < 20 && seed < 200; ++seed) {
    std::mt19937 rng(seed);
    ImageContents contents;
    contents.versionMinor = 81;
    contents.title = "r";
    const int channels = std::uniform_int_distribution<int>(1, 3)(rng);
    for (int c = 0; c < channels; ++c) {
      std::vector<std::uint8_t> block{0x81, 0xF0, 0xE0};  // audible, looping
      const int length = std::uniform_int_distribution<int>(1, 40)(rng);
      for (int i = 0; i < length; ++i) {
        // Mostly the bytes songs are made of, some of any value.
        static const std::uint8_t kCommon[] = {0x3C, 0x40, 0x45, 0x80, 0x08, 0x18, 0xE0, 0xE1, 0xE2, 0xE3,
                                                0x01, 0x02, 0x90, 0xA0, 0x82, 0x83, 0x84, 0xFD, 0xFF};
        block.push_back(std::uniform_int_distribution<int>(0, 3)(rng) == 0
                            ? static_cast<std::uint8_t>(rng())
                            : kCommon[std::uniform_int_distribution<std::size_t>(0, std::size(kCommon) - 1)(rng)]);
      }
      contents.channels.push_back(block);
    }
    const std::vector<std::uint8_t> image = buildImage(contents);
    const gb::GbSong song = gb::buildGbSong(viewImage(image));
    if (!song.ok) continue;  // kinds that do not fit: refused, as the program test checks
    const gb::GbFile gbs = gb::makeGbs(song);
    writeFile(dir + "/r.gbs", std::string(gbs.bytes.begin(), gbs.bytes.end()));
    const TimingCheck check = compareTiming(sequencerEvents(image, 10), gbsplayWrites(dir + "/r.gbs", 10),
                                            song.channels, 2.0 / gb::kCallsPerSecond + 0.001);
    EXPECT_EQ(check.fault, "") << "seed " << seed;
    events += check.notes + check.rests + check.ends;
    ++played;
  }
  EXPECT_EQ(played, 20);
  EXPECT_GT(events, 50);
  std::printf("20 songs of random bytes: %d notes, rests and ends where the sequencer has them\n", events);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qvb::test
