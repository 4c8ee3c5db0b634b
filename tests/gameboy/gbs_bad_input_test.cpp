// Blocks of random bytes, in images of version 0.81 (the exporter's layout):
// whatever the bytes (unknown commands, items cut by the block's end, blocks
// without END, zero lengths, repeat levels without a slot), the driver in
// gbsplay ends the channels, loops and plays exactly where the sequencer does;
// and a tick of notes of no length on every channel ends on the last ones.
#include <gtest/gtest.h>

#include <cmath>

#include <filesystem>
#include <cstdio>
#include <map>
#include <random>

#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "tests/gameboy/gb_harness.h"
#include "tests/support/qvb_image_builder.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

// Over 200 images the loader takes, the driver writes only the sound
// registers and its timer's (TIMA, TMA, TAC, IF); gbsplay shows every I/O
// write. (Its RAM and the bank register are outside I/O.)
TEST(GbsBadInput, randomBlocksEndLoopAndPlayWhereTheSequencerDoes) {
  const std::string dir = makeTempDir();
  int played = 0, events = 0;
  for (std::uint32_t seed = 1; played < 200 && seed < 2000; ++seed) {
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
    const gb::GbSong song = gb::buildGbSong(image);
    if (!song.ok) continue;  // kinds that do not fit: refused, as the program test checks
    const gb::GbFile gbs = gb::makeGbs(song);
    writeFile(dir + "/r.gbs", std::string(gbs.bytes.begin(), gbs.bytes.end()));
    const TimingCheck check = compareTiming(sequencerEvents(image, 5), gbsplayWrites(dir + "/r.gbs", 6),
                                            song.channels, kLatest);
    EXPECT_EQ(check.fault, "") << "seed " << seed;
    for (int address : gbsplayAddresses(dir + "/r.gbs", 3))
      EXPECT_TRUE((address >= 0x10 && address <= 0x3F) || (address >= 0x05 && address <= 0x07) || address == 0x0F)
          << "seed " << seed << " wrote 0xFF" << std::hex << address;
    events += check.notes + check.rests + check.ends;
    ++played;
  }
  EXPECT_EQ(played, 200);
  EXPECT_GT(events, 500);
  std::printf("200 songs of random bytes: %d notes, rests and ends where the sequencer has them\n", events);
  std::filesystem::remove_all(dir);
}

// Songs whose ticks read hundreds or thousands of items (an interpreting
// driver fell behind on them for good: 81 %, 4 % and 50 % of their speed)
// keep time like any other: the computer read the items.
TEST(GbsBadInput, ticksThatReadThousandsOfItemsKeepTime) {
  const auto repeated = [](std::vector<std::uint8_t> block, const std::vector<std::uint8_t>& item, int times) {
    for (int i = 0; i < times; ++i) block.insert(block.end(), item.begin(), item.end());
    return block;
  };
  const auto ending = [](std::vector<std::uint8_t> block, const std::vector<std::uint8_t>& tail) {
    block.insert(block.end(), tail.begin(), tail.end());
    return block;
  };
  struct Case {
    const char* name;
    std::vector<std::vector<std::uint8_t>> channels;
  };
  std::vector<Case> cases;
  // 40 nested repeats of 255 around each one-tick note.
  cases.push_back({"80 repeat items a note",
                   {ending(repeated(repeated({0x81, 0xF0, 0xE0}, {0xE1, 0xFF, 0x00}, 40), {0x3C, 0x01}, 1) ,
                           repeated({0xE3, 0x00}, {0xE3, 0x00}, 39))}});
  cases.back().channels[0].push_back(0xFF);
  // 1500 timbre, volume, detune and sweep changes a pass on four channels.
  Case many{"6000 commands a pass, four channels", {}};
  for (std::uint8_t type : {0, 1, 3, 2})
    many.channels.push_back(ending(repeated({0xE0, 0xFE, type}, {0xFD, 1, 0x81, 0xF0, 0x83, 5, 0x84, 3}, 1500),
                                   {0x3C, 0x01, 0xFF}));
  cases.push_back(many);
  cases.push_back({"20000 notes of no length a pass",
                   {ending(repeated({0x81, 0xF0, 0xE0}, {0x3C, 0x00}, 20000), {0x3C, 0x18, 0xFF})}});
  const std::string dir = makeTempDir();
  for (const Case& c : cases) {
    ImageContents contents;
    contents.title = "t";
    contents.channels = c.channels;
    const std::vector<std::uint8_t> image = buildImage(contents);
    const gb::GbSong song = gb::buildGbSong(image);
    ASSERT_TRUE(song.ok) << c.name << ": " << song.refusal;
    const gb::GbFile gbs = gb::makeGbs(song);
    writeFile(dir + "/t.gbs", std::string(gbs.bytes.begin(), gbs.bytes.end()));
    const TimingCheck check =
        compareTiming(sequencerEvents(image, 5), gbsplayWrites(dir + "/t.gbs", 6), song.channels, kLatest);
    EXPECT_EQ(check.fault, "") << c.name;
    EXPECT_GE(check.earliest, kEarliest) << c.name;
    EXPECT_GT(check.notes, 0) << c.name;
  }
  std::filesystem::remove_all(dir);
}

// Notes of no length between timbre, voice type and volume changes, 30 on
// each of the four channels in one tick, before a long note: hundreds of
// writes, each note's trigger among them. Once the tick is written, every
// channel sounds its last note: its frequency register, its level, and a
// trigger after its level and (on the wave channel) after wave RAM.
TEST(GbsBadInput, notesOfNoLengthWithoutEndLeaveEveryChannelOnItsLastNote) {
  ImageContents contents;
  contents.title = "z";
  contents.waves.push_back(WaveRecord{});
  for (std::size_t i = 0; i < 32; ++i) contents.waves[0].samples[i] = static_cast<std::int8_t>(i < 16 ? 100 : -100);
  const std::uint8_t types[4][2] = {{1, 1}, {0, 0}, {3, 4}, {2, 2}};  // pulse, square, sine and wave, noise
  for (const auto& type : types) {
    std::vector<std::uint8_t> block{0xFE, type[0], 0x81, 0xF0, 0x3C, 0x10};
    for (int i = 0; i < 30; ++i) {
      const auto odd = static_cast<std::uint8_t>(i & 1);
      block.insert(block.end(), {0xFE, type[odd], 0xFD, static_cast<std::uint8_t>(1 + odd), 0x81,
                                 static_cast<std::uint8_t>(odd != 0 ? 0x80 : 0xF0),
                                 static_cast<std::uint8_t>(0x30 + i), 0x00});
    }
    // The last two at one level: the second writes its frequency without a trigger.
    block.insert(block.end(), {0xFE, type[0], 0x81, 0xC0, 0x40, 0x00, 0x45, 0xFF, 0x00, 0xF0, 0x80, 0x10, 0xFF});
    contents.channels.push_back(block);
  }
  const std::vector<std::uint8_t> image = buildImage(contents);
  const gb::GbSong song = gb::buildGbSong(image);
  ASSERT_TRUE(song.ok) << song.refusal;
  const std::string dir = makeTempDir();
  const gb::GbFile gbs = gb::makeGbs(song);
  writeFile(dir + "/z.gbs", std::string(gbs.bytes.begin(), gbs.bytes.end()));
  const std::vector<RegisterWrite> writes = gbsplayWrites(dir + "/z.gbs", 2);
  std::filesystem::remove_all(dir);

  std::map<int, unsigned> lastHz;  // per channel, the last note the sequencer started
  double lastStart = 0;
  for (const HeardEvent& event : sequencerEvents(image, 1)) {
    if (event.kind != SequencerEventKind::NoteOn) continue;
    lastHz[event.channel] = event.hz;
    lastStart = event.seconds;
  }
  int value[0x40] = {}, lastAt[0x40] = {}, triggerAt[0x40] = {}, at = 0;
  for (const RegisterWrite& write : writes) {
    if (write.seconds > lastStart + 0.2) break;  // well after the tick, before the long notes end
    value[write.reg] = write.value;
    lastAt[write.reg] = ++at;
    if ((write.value & 0x80) != 0) triggerAt[write.reg] = at;
  }
  const int base[4] = {0x11, 0x16, 0x1B, 0x20};  // NRx1 of pulse 1, pulse 2, wave, noise
  for (int c = 0; c < 4; ++c) {
    const auto hw = static_cast<gb::HwChannel>(c);
    const int level = base[c] + 1, low = base[c] + 2, high = base[c] + 3;
    if (hw == gb::HwChannel::Noise) {
      EXPECT_EQ(value[low], gb::noiseRegister(lastHz[c])) << "channel " << c;
    } else {
      // The pitch the register plays is the nearest the channel has to the note's.
      const int frequency = (value[high] & 7) << 8 | value[low];
      const double k = hw == gb::HwChannel::Wave ? 65536 : 131072;
      const double pitch = k / (2048 - frequency), up = frequency < 2047 ? k / (2047 - frequency) - pitch : 0;
      EXPECT_LE(std::abs(pitch - lastHz[c]), up / 2 + 1e-9) << "channel " << c << ": register " << frequency;
    }
    EXPECT_NE(value[level] & (hw == gb::HwChannel::Wave ? 0x60 : 0xF0), 0) << "channel " << c;
    EXPECT_GT(triggerAt[high], lastAt[level]) << "channel " << c;
    if (hw == gb::HwChannel::Wave) {
      EXPECT_GT(triggerAt[high], lastAt[0x1A]);
    }
  }
}

}  // namespace
}  // namespace qvb::test
