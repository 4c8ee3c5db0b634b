// The streams the Game Boy driver replays, read back as the layout documents
// them: a note and a rest worked out by hand, loops that keep the exact
// length the sequencer gives them, and songs the old interpreting driver
// played wrong.
#include <gtest/gtest.h>

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

TEST(GbStreams, aNoteAndARestBecomeTheFramesWorkedOutByHand) {
  // Tick 368 units, a quarter 48 ticks: the note at unit 92, the rest at
  // 92 + 17664. Slots are 1/1024 s: ceil(92 * 512 / 11025) = 5 and
  // ceil(17756 * 512 / 11025) = 825.
  const gb::GbSong song = gb::buildGbSong(compiled("#TITLE <n>\n#CHANNEL 1\n#A v15 %1 @2 o4 c4 r4\n"));
  ASSERT_TRUE(song.ok) << song.refusal;
  ASSERT_EQ(song.streams.size(), 1u);
  const gb::GbStream& stream = song.streams[0];
  ASSERT_EQ(stream.frames.size(), 2u);
  // Note 60 is 261 Hz: 2048 - round(131072 / 261) = 1546 = 0x60A. Duty 25 %
  // (NR11 0x40), level 15 constant (NR12 0xF0), restart, both sides (0x11).
  EXPECT_EQ(stream.frames[0], (std::vector<std::uint8_t>{0x3E, 0x40, 0xF0, 0x0A, 0x86, 0x11}));
  EXPECT_EQ(stream.frames[1], (std::vector<std::uint8_t>{0x04, 0x00}));  // NR12 = 0: silent
  EXPECT_EQ(stream.gaps, (std::vector<std::uint16_t>{5, 820, gb::kGapNever}));
}

// A song that loops: each channel's pass, as its gaps and remainder count
// it, is the loop the sequencer plays (from its events), to the unit.
TEST(GbStreams, aLoopsGapsAddUpToTheSequencersLoopExactly) {
  const std::vector<std::uint8_t> image = compiled(
      "#TITLE <l>\n#CHANNEL 3\n#A t133 v15 %1 @4 o4 c8 $ d8 e8. f16 r8 mp2,3,1,1,0 g4\n"
      "#B v12 o3 $ c4 e4 g4 r4\n#C v15 %3 s12 o4 $ a8 r8 c4\n");
  const gb::GbSong song = gb::buildGbSong(image);
  ASSERT_TRUE(song.ok) << song.refusal;
  std::vector<double> jumps[3];
  for (const HeardEvent& event : sequencerEvents(image, 20))
    if (event.kind == SequencerEventKind::JumpToMark) jumps[event.channel].push_back(event.seconds);
  for (std::size_t c = 0; c < 3; ++c) {
    const gb::GbStream& stream = song.streams[c];
    ASSERT_GE(stream.loopTarget, 0) << c;
    ASSERT_GE(jumps[c].size(), 3u) << c;
    const double sequencerPass = jumps[c][2] - jumps[c][1];
    // The frames from the loop target on, the gap after the last crossing back.
    double slots = static_cast<double>(stream.loopRemainder) / gb::kLoopDivisor;
    int crossings = 0;
    for (std::size_t i = static_cast<std::size_t>(stream.loopTarget) + 1; i < stream.gaps.size(); ++i) {
      slots += stream.gaps[i] & gb::kMaxGap;
      crossings += (stream.gaps[i] & gb::kGapLoops) != 0 ? 1 : 0;
    }
    EXPECT_EQ(crossings, 1) << c;
    // One pass of the stream, or two when the first pass left other registers.
    const double passes = slots / 1024 / sequencerPass;
    EXPECT_NEAR(passes, std::round(passes), 1e-9) << "channel " << c;
  }
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
// the sequencer plays the notes, so do the streams.
TEST(GbStreams, notesAfterLoopsThatTakeNoTimeArePlayed) {
  const gb::GbSong song = gb::buildGbSong(compiled("#TITLE <d>\n#CHANNEL 1\n#A /:255 /:255 v10 :/ :/ c4 d4 e4\n"));
  ASSERT_TRUE(song.ok) << song.refusal;
  int restarts = 0;
  for (const auto& frame : song.streams[0].frames) {
    std::size_t at = 1;
    for (int n = 0; n < 4; ++n) at += (frame[0] >> n & 1) != 0 ? 1 : 0;
    if ((frame[0] & 0x10) != 0 && (frame[at] & 0x80) != 0) ++restarts;
  }
  EXPECT_EQ(restarts, 3);
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
