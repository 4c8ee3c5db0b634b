// The streams the Game Boy driver replays, read back as the layout documents
// them: a note and a rest worked out by hand, loops that keep the exact
// length the sequencer gives them, and songs the old interpreting driver
// played wrong.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "gameboy/gb_files.h"
#include "gameboy/gb_song.h"
#include "loader/song_loader.h"
#include "tests/gameboy/gb_harness.h"

namespace qvb::test {
namespace {

std::vector<std::uint8_t> compiled(const std::string& source) {
  const LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  EXPECT_TRUE(song.ok()) << source;
  return song.image;
}

TEST(GbStreams, aNoteAndARestBecomeTheRecordsWorkedOutByHand) {
  // Tick 368 units, a quarter 48 ticks: the note at unit 92, the rest at
  // 92 + 17664. Slots are 1/1024 s: ceil(92 * 512 / 11025) = 5 and
  // ceil(17756 * 512 / 11025) = 825: 820 slots on, 13 records of 63 slots
  // and one of 1 between them.
  const gb::GbSong song = gb::buildGbSong(compiled("#TITLE <n>\n#CHANNEL 1\n#A v15 %1 @2 o4 c4 r4\n"));
  ASSERT_TRUE(song.ok) << song.refusal;
  const gb::GbStream& stream = song.stream;
  ASSERT_EQ(stream.records.size(), 15u);
  // o4 c is note 48, 130 Hz: 2048 - round(131072 / 130) = 1040 = 0x410.
  // Pulse 1's NR11..NR14 (0x1E): duty 25 % (0x40), level 15 constant (0xF0),
  // 0x410 with a restart; then NR51 (0x00 + more: 0x80 on the first) 0x11.
  EXPECT_EQ(stream.records.front(), (std::vector<std::uint8_t>{0x9E, 0x40, 0xF0, 0x10, 0x84, 0x00, 0x11}));
  EXPECT_EQ(stream.records.back(), (std::vector<std::uint8_t>{0x04, 0x00}));  // NR12 = 0: silent
  std::vector<std::uint8_t> gaps{5};
  for (int i = 0; i < 13; ++i) gaps.push_back(63);
  gaps.push_back(1);
  gaps.push_back(gb::kGapEnd);
  EXPECT_EQ(stream.gaps, gaps);
}

// A song that loops: a pass of the stream, as its gaps and remainder count
// it, is the loop the sequencer plays every channel in (the least common
// multiple of their loops, from its events), to the unit: once, or twice
// when the first pass left other registers.
TEST(GbStreams, aLoopsGapsAddUpToTheSequencersLoopExactly) {
  const std::vector<std::uint8_t> image = compiled(
      "#TITLE <l>\n#CHANNEL 3\n#A t133 v15 %1 @4 o4 c8 $ d8 e8. f16 r8 mp2,3,1,1,0 g4 d2\n"
      "#B v12 o3 $ c4 e4 g4 r4\n#C v15 %3 s12 o4 $ a8 r8 c4\n");
  const gb::GbSong song = gb::buildGbSong(image);
  ASSERT_TRUE(song.ok) << song.refusal;
  std::vector<std::int64_t> jumps[3];  // in units: frames / 2
  for (const HeardEvent& event : sequencerEvents(image, 30))
    if (event.kind == SequencerEventKind::JumpToMark)
      jumps[event.channel].push_back(std::llround(event.seconds * 22050));
  std::int64_t shared = 1;
  for (const auto& channel : jumps) {
    ASSERT_GE(channel.size(), 3u);
    shared = std::lcm(shared, channel[2] - channel[1]);
  }
  const gb::GbStream& stream = song.stream;
  ASSERT_GE(stream.loopTarget, 0);
  std::int64_t slots = 0;
  int crossings = 0;
  for (std::size_t i = static_cast<std::size_t>(stream.loopTarget) + 1; i < stream.gaps.size(); ++i) {
    slots += stream.gaps[i] & ~gb::kGapCarry;
    crossings += (stream.gaps[i] & gb::kGapCarry) != 0 ? 1 : 0;
  }
  ASSERT_GE(crossings, 1);
  // slots + remainder / 11025 per crossing = passes * shared * 1024 / 22050.
  const std::int64_t elevenths = slots * 11025 + crossings * stream.loopRemainder;
  EXPECT_EQ(elevenths, crossings * shared * 512);
}

struct Refusal {
  const char* name;
  const char* source;
  const char* why;
};

TEST(GbStreams, songsTheHardwareCannotPlayAreRefusedNamingTheChannel) {
  const Refusal cases[] = {
      // The player plays a square, then noise: the kind is taken in play order.
      {"a kind set after the loop mark", "#TITLE <k>\n#CHANNEL 1\n#A $ c4 %2\n", "channel A switches between"},
      {"a third pulse channel", "#TITLE <p>\n#CHANNEL 3\n#A %0 c\n#B %1 c\n#C %0 c\n", "channel C would be a third"},
      {"five channels", "#TITLE <f>\n#CHANNEL 5\n#A c\n#B c\n#C c\n#D c\n#E c\n", "5 channels"},
  };
  for (const Refusal& refusal : cases) {
    const gb::GbSong song = gb::buildGbSong(compiled(refusal.source));
    EXPECT_FALSE(song.ok) << refusal.name;
    EXPECT_NE(song.refusal.find(refusal.why), std::string::npos) << refusal.name << ": " << song.refusal;
  }
}

// Loops whose bodies take no time, as deep as 255 x 255 passes, then notes:
// the sequencer plays the notes (joined: one restart, three pitches), so do
// the streams.
TEST(GbStreams, notesAfterLoopsThatTakeNoTimeArePlayed) {
  const gb::GbSong song = gb::buildGbSong(compiled("#TITLE <d>\n#CHANNEL 1\n#A /:255 /:255 v10 :/ :/ c4 d4 e4\n"));
  ASSERT_TRUE(song.ok) << song.refusal;
  std::vector<int> lows;  // NR13 as each record writes it (pulse 1's registers come first)
  for (const auto& record : song.stream.records) {
    std::size_t at = 1;
    for (int n = 0; n < 3; ++n) at += (record[0] >> n & 1) != 0 ? 1 : 0;
    if ((record[0] & 0x1F) != 0 && (record[0] & 0x08) != 0) lows.push_back(record[at]);
  }
  // c, d, e at o4: 130, 146, 164 Hz: 2048 - 1008, 898, 799.
  EXPECT_EQ(lows, (std::vector<int>{0x10, 0x7E, 0xE1}));
}

// A song longer than 32 KB of streams goes into banks: the ROM is MBC5,
// a power of two in size, and every record keeps inside its bank.
TEST(GbStreams, aLongSongIsLaidOutInBanksOfAnMbc5Rom) {
  std::string source = "#TITLE <long>\n#PRAGMA FAMICOM\n#CHANNEL 3\n";
  for (const char* channel : {"#A @2 ", "#B @6 ", "#C "}) {
    source += channel;
    for (int i = 0; i < 1500; ++i) source += "v" + std::to_string(4 + i % 12) + " o" + std::to_string(3 + i % 3) + " c16 d16 ";
    source += "\n";
  }
  const gb::GbSong song = gb::buildGbSong(compiled(source));
  ASSERT_TRUE(song.ok) << song.refusal;
  const gb::GbFile rom = gb::makeRom(song);
  ASSERT_TRUE(rom.ok) << rom.refusal;
  EXPECT_GE(rom.banks, 4);
  EXPECT_EQ(rom.bytes.size(), static_cast<std::size_t>(rom.banks) * 0x4000);
  EXPECT_EQ(rom.bytes[0x147], 0x19);                   // MBC5
  EXPECT_EQ(0x8000 << rom.bytes[0x148], rom.bytes.size());  // the size code
  const gb::GbFile mbc1 = gb::makeRom(song, gb::Cartridge::Mbc1);
  ASSERT_TRUE(mbc1.ok) << mbc1.refusal;
  EXPECT_EQ(mbc1.bytes[0x147], 0x01);
}

}  // namespace
}  // namespace qvb::test
