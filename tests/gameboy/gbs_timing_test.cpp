// The driver in gbsplay against the sequencer: every note, rest and channel
// end of the examples, of songs that use each command, and of generated
// songs shows as its register write within one driver call plus 1 ms, with
// the frequency register the note's Hz give, in the same order; over ten
// minutes the last minute is no later than the first.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "loader/song_loader.h"
#include "tests/gameboy/gb_harness.h"
#include "tests/support/gambatte_core.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

// For every song, the busiest included (an effect frame with vibrato on
// four channels and a tick that starts notes on all four at once).
constexpr double kWindow = kLatest;

std::vector<std::uint8_t> compiled(const std::string& source) {
  const LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  EXPECT_TRUE(song.ok()) << source;
  return song.image;
}

// A song made into a GBS file and played in gbsplay for `seconds`.
struct GbsPlay {
  gb::GbSong song;
  std::vector<RegisterWrite> writes;
};

GbsPlay playGbs(const std::vector<std::uint8_t>& image, int seconds, const std::string& dir, bool vblank = false) {
  GbsPlay play{gb::buildGbSong(image), {}};
  EXPECT_TRUE(play.song.ok) << play.song.refusal;
  const gb::GbFile gbs = gb::makeGbs(play.song, vblank);
  const std::string path = dir + "/song.gbs";
  writeFile(path, std::string(gbs.bytes.begin(), gbs.bytes.end()));
  play.writes = gbsplayWrites(path, seconds);
  return play;
}

// Compares the sequencer's first `seconds` with the GBS file in gbsplay
// (which runs a second longer, so that the writes for the last events are
// there).
TimingCheck checkSong(const std::vector<std::uint8_t>& image, int seconds, const std::string& dir) {
  const GbsPlay play = playGbs(image, seconds + 1, dir);
  return compareTiming(sequencerEvents(image, seconds), play.writes, play.song.channels, kWindow);
}

void expectOnTime(const TimingCheck& check, const std::string& name) {
  EXPECT_EQ(check.fault, "") << name;
  EXPECT_GE(check.earliest, kEarliest) << name;
  EXPECT_LE(check.latest, kWindow) << name;
  EXPECT_GT(check.notes, 0) << name;
}

class GbsTiming : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = makeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(GbsTiming, theFamicomExampleKeepsTimeForTenMinutesWithoutDrift) {
  const std::string source = readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm");
  const TimingCheck check = checkSong(compiled(source), 600, dir_);
  expectOnTime(check, "famicom.qvm");
  EXPECT_GT(check.rests, 100);
  // A drift of a tenth of a millisecond a minute would show as a whole one here.
  EXPECT_NEAR(check.lastMinuteLatest, check.firstMinuteLatest, 1.0 / gb::kSlotsPerSecond);
  std::printf("famicom.qvm, 600 s: %d notes, %d rests; writes %.3f to %.3f ms after the sequencer\n", check.notes,
              check.rests, check.earliest * 1000, check.latest * 1000);
}

// Called once a video frame (70224 cycles) instead of on its own timer, the
// driver keeps the song's speed: every write at most a video frame later
// than on the timer, none early, the last minute as the first.
TEST_F(GbsTiming, calledOnceAVideoFrameTheDriverKeepsTheSongsSpeed) {
  const std::string source = readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm");
  const std::vector<std::uint8_t> image = compiled(source);
  const GbsPlay play = playGbs(image, 181, dir_, true);
  constexpr double kFrame = 70224.0 / 4194304;
  const TimingCheck check = compareTiming(sequencerEvents(image, 180), play.writes, play.song.channels,
                                          kFrame + kLatest);
  EXPECT_EQ(check.fault, "");
  EXPECT_GE(check.earliest, kEarliest);
  EXPECT_LE(check.latest, kFrame + kLatest);
  EXPECT_GT(check.notes, 1000);
  EXPECT_NEAR(check.lastMinuteLatest, check.firstMinuteLatest, 1.0 / gb::kSlotsPerSecond);
  std::printf("famicom.qvm at VBlank, 180 s: writes %.3f to %.3f ms after the sequencer\n", check.earliest * 1000,
              check.latest * 1000);
}

TEST_F(GbsTiming, everyOtherExampleThatFitsKeepsTimeForAMinute) {
  double latest = 0;
  for (const char* name : {"fanfare.qvm", "loops.qvm", "repeats.qvm", "sweep.qvm", "tempo.qvm", "vibrato.qvm"}) {
    const std::string source = readFile(std::string(QVBP_SOURCE_DIR) + "/examples/" + name);
    const TimingCheck check = checkSong(compiled(source), 60, dir_);
    expectOnTime(check, name);
    latest = std::max(latest, check.latest);
  }
  std::printf("six more examples, 60 s each: the latest write %.3f ms after the sequencer\n", latest * 1000);
}

// Ten minutes of sixteenths on three channels, no loop: some 58 KB of
// records, four ROM banks. The GBS file switches banks in gbsplay and the
// ROM in gambatte, and both play to the end.
std::string tenMinuteSong() {
  std::mt19937 rng(5);
  const auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  static const char* kNotes[] = {"c", "d", "e", "f", "g", "a", "b"};
  static const char* kSigns[] = {"", "+", "-"};
  std::string s = "#TITLE <ten minutes>\n#PRAGMA FAMICOM\n#CHANNEL 3\n";
  for (const char* channel : {"#A t120 v12 @2 o5", "#B v10 @6 o4", "#C v15 o3"}) {
    s += channel;
    for (int i = 0; i < 4800; ++i) {
      if (i % 16 == 0) s += " o" + std::to_string(pick(4, 5));
      s += pick(0, 9) == 0 ? " r16" : std::string(" ") + kNotes[pick(0, 6)] + kSigns[pick(0, 2)] + "16";
    }
    s += "\n";
  }
  return s;
}

TEST_F(GbsTiming, aTenMinuteSongInFourBanksKeepsTimeInGbsplayAndPlaysToItsEndInGambatte) {
  const std::vector<std::uint8_t> image = compiled(tenMinuteSong());
  const gb::GbSong song = gb::buildGbSong(image);
  ASSERT_TRUE(song.ok) << song.refusal;
  const gb::GbFile rom = gb::makeRom(song);
  ASSERT_TRUE(rom.ok) << rom.refusal;
  EXPECT_GE(rom.banks, 4);
  EXPECT_EQ(rom.bytes[0x147], 0x19);  // MBC5
  const TimingCheck check = checkSong(image, 600, dir_);
  expectOnTime(check, "ten minutes");
  EXPECT_GT(check.notes, 12000);
  EXPECT_NEAR(check.lastMinuteLatest, check.firstMinuteLatest, 1.0 / gb::kSlotsPerSecond);
  GambatteCore core(rom.bytes);
  ASSERT_TRUE(core.ok());
  for (int frame = 0; frame < 60 * 595; ++frame) core.runFrame();
  const std::size_t before = core.audio().size();
  for (int frame = 0; frame < 60 * 2; ++frame) core.runFrame();  // 9:55 to 9:57: the last bank plays
  const auto [low, high] = std::minmax_element(core.audio().begin() + static_cast<std::ptrdiff_t>(before),
                                               core.audio().end());
  EXPECT_GT(*high - *low, 1000);
  std::printf("ten minutes in %d banks: %d notes, writes %.3f to %.3f ms after the sequencer\n", rom.banks,
              check.notes, check.earliest * 1000, check.latest * 1000);
}

struct FeatureSong {
  const char* name;
  const char* source;
};

const FeatureSong kFeatureSongs[] = {
    {"repeats with breaks, nested, and a loop mark",
     "#TITLE <r>\n#CHANNEL 2\n#A t150 v15 %1 @2 o4 $ /:3 c8 d8 /:2 e16 f16 :/ / g4 :/ a2 r4\n"
     "#B v12 %0 o3 /:2 c4 r8 e8 :/ g2\n"},
    {"tempo changes in the second channel",
     "#TITLE <t>\n#CHANNEL 2\n#A v15 %1 @4 o4 c8 d8 e8 f8 g8 a8 b8 > c8 < $ c4 e4\n"
     "#B v10 %0 o3 c2 t200 e4 t60 g4 t300 c8 e8 g8 $ r1\n"},
    {"four channels with the noise channel",
     "#TITLE <n>\n#CHANNEL 4\n#A v15 %1 @6 o5 $ c4 e4 g4 r4\n#B v9 %0 o4 $ e2 g2\n"
     "#C v15 %3 o3 $ c2 g2\n#D v12 %2 o2 $ c8 r8 c16 c16 r8 o6 c4\n"},
    {"release, sweep and detune after key-off",
     "#TITLE <s>\n#CHANNEL 3\n#A v15 %1 @2 s8,3 k5 o4 $ c8 r8 e8 r8 g4 r4\n"
     "#B v12 %0 s20,-4 o5 $ c4 r4\n#C v15 %3 s16 k-3 o4 $ a4 r4 c4 r4\n"},
    {"vibrato with growth, on pulse and wave",
     "#TITLE <v>\n#CHANNEL 2\n#A v15 %1 @4 mp4,3,2,1,1 o5 $ a2 c2 e1\n"
     "#B v15 %3 mp2,5,1,-2,0 o4 $ c1 g1\n"},
    {"period mode with detune and sweep",
     "#TITLE <p>\n#CHANNEL 2\n#A v15 %129 @2 k3 o4 $ c8 e8 g8 r8 a4\n"
     "#B v15 %128 s10,2 o5 $ c4 r4 d4 r4\n"},
    {"four channels starting notes together, with vibrato every frame and detune",
     "#TITLE <b>\n#WAV 7,<(-100,100),20,[12 -40,]>\n#CHANNEL 4\n"
     "#A t240 v15 %129 @2 mp1,8,1,0,0 k3 s6,2 o5 $ c32 e32 g32 r32 /:3 a16 b16 :/\n"
     "#B v13 %128 mp1,9,1,1,2 k-4 o4 $ e32 g32 b32 r32 /:3 c16 d16 :/\n"
     "#C v15 %4 @7 mp1,7,1,0,0 k5 o4 $ a32 %3 c32 %4 @7 e32 r32 /:3 g16 f16 :/\n"
     "#D v12 %130 mp1,6,1,0,0 s4,3 o3 $ c32 d32 e32 r32 /:3 f16 g16 :/\n"},
    {"a user wave, switched with the sine",
     "#TITLE <w>\n#WAV 3,<(-128,127),16,(127,-128),16>\n#CHANNEL 1\n#A v15 %4 @3 o4 $ c4 e4 %3 g4 %4 @3 c4\n"},
    {"a scale without tempo, timed from the call of init", "#TITLE <s>\n#CHANNEL 1\n#A v15 o5 c4 d4 e4 f4 g4 a4 b4\n"},
    {"four channels at t512, ticks shorter than a slot",
     "#TITLE <t512>\n#CHANNEL 4\n#A t512 v15 $ l64 c d e f g a b\n#B v15 %1 $ l64 c d e\n#C v15 %3 $ l64 o1 c o8 b\n"
     "#D v15 %2 $ l64 c c c\n"},
    // The start-up reads them all: longer than a timer period.
    {"hundreds of commands before the first note",
     "#TITLE <i>\n#CHANNEL 2\n#A v15 %1 [120 @1 @2 k1 k0] o4 c8 d8 r8\n#B v12 %0 o3 e4 g4\n"},
};

TEST_F(GbsTiming, songsThatUseEachCommandKeepTimeAndPitch) {
  for (const FeatureSong& song : kFeatureSongs) {
    const TimingCheck check = checkSong(compiled(song.source), 40, dir_);
    expectOnTime(check, song.name);
  }
}

// Commands that take no time, again and again before notes on all four
// channels (some 140 timbre changes in one tick): the notes still play in
// order, on time, at their pitch, and each pulse channel's duty is its last
// timbre's.
TEST_F(GbsTiming, hundredsOfCommandsInOneTickStillPlayAsTheSequencer) {
  const std::string source =
      "#TITLE <q>\n#CHANNEL 4\n#A v15 %1 o4 c8 [32 @1 @2] d8 e8 f8 r8 g4\n"
      "#B v15 o4 e8 [32 %0 %1] g8 c8 e8 r8 g4\n#C v15 %3 o4 a8 [3 %4 %3] b8 c8 d8 r8 e4\n"
      "#D %2 o3 c8 [3 v4 v15] d8 e8 f8 r8 g4\n";
  const std::vector<std::uint8_t> image = compiled(source);
  const GbsPlay play = playGbs(image, 4, dir_);
  ASSERT_TRUE(play.song.ok) << play.song.refusal;
  const std::vector<RegisterWrite>& writes = play.writes;
  const TimingCheck check = compareTiming(sequencerEvents(image, 3), writes, play.song.channels, kWindow);
  EXPECT_EQ(check.fault, "");
  EXPECT_EQ(check.notes, 19);  // D's first note has no level yet: nothing to hear
  int lastDuty[2] = {-1, -1};
  for (const RegisterWrite& write : writes) {
    if (write.reg == 0x11) lastDuty[0] = write.value;
    if (write.reg == 0x16) lastDuty[1] = write.value;
  }
  EXPECT_EQ(lastDuty[0], 0x40);  // @2: a quarter
  EXPECT_EQ(lastDuty[1], 0x40);  // %1 starts at timbre 3, a quarter on the hardware
  std::printf("hundreds of commands in one tick: the latest write %.3f ms after the sequencer\n", check.latest * 1000);
}

// Each restart must follow the wave RAM of its own note's wave. The two
// waves are flat, high and low, and the notes, one tick (4 ms) long,
// alternate between them.
TEST_F(GbsTiming, aWaveChangedOnEveryShortNoteIsLoadedBeforeItsOwnTrigger) {
  const std::string source =
      "#TITLE <x>\n#WAV 1,<[32 127,]>\n#WAV 2,<[32 -128,]>\n#CHANNEL 1\n#A t300 v15 %4 o4 $ @1 c192 @2 e192\n";
  const std::vector<std::uint8_t> image = compiled(source);
  const GbsPlay play = playGbs(image, 2, dir_);
  ASSERT_TRUE(play.song.ok) << play.song.refusal;
  const std::vector<RegisterWrite>& writes = play.writes;
  std::vector<int> heldAtTrigger;  // wave RAM's first byte at each trigger
  int firstByte = -1;
  for (const RegisterWrite& write : writes) {
    if (write.reg == 0x30) firstByte = write.value;
    if (write.reg == 0x1E && (write.value & 0x80) != 0) heldAtTrigger.push_back(firstByte);
  }
  ASSERT_GT(heldAtTrigger.size(), 100u);
  for (std::size_t i = 0; i < heldAtTrigger.size(); ++i)
    ASSERT_EQ(heldAtTrigger[i], i % 2 == 0 ? 0xFF : 0x00) << "note " << i;
  expectOnTime(compareTiming(sequencerEvents(image, 1), writes, play.song.channels, kWindow), source);
}

// A song of one to four channels that fits the hardware: square or pulse
// channels, a sine or wave channel and a noise channel in any order, with
// tempo, loops, repeats, every volume form, release and sweep, vibrato,
// detune, period mode, timbres and notes of every length.
std::string fittingSong(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto chance = [&](int percent) { return pick(1, 100) <= percent; };
  std::vector<int> kinds = {0, 0, 1, 2};  // pulse, pulse, wave, noise
  std::shuffle(kinds.begin(), kinds.end(), rng);
  kinds.resize(static_cast<std::size_t>(pick(1, 4)));
  std::string s = "#TITLE <g" + std::to_string(seed) + ">\n#WAV 7,<(-100,100),20,[12 -40,]>\n#CHANNEL " +
                  std::to_string(kinds.size()) + "\n";
  static const char* kNotes[] = {"c", "d+", "e", "f", "g-", "a", "b", "c#"};
  static const char* kLengths[] = {"1", "2", "4", "8", "16", "32", "3", "6", "12", "4.", "1^1", "2^8"};
  for (std::size_t c = 0; c < kinds.size(); ++c) {
    s += "#";
    s += static_cast<char>('A' + c);
    s += " ";
    if (chance(40)) s += "t" + std::to_string(pick(60, 300)) + " ";
    if (chance(50)) s += "$";
    for (int k = pick(2, 4); k > 0; --k) {
      static const int kTypes[3][2] = {{0, 1}, {3, 4}, {2, 2}};
      const int type = kTypes[kinds[c]][pick(0, 1)];
      s += " %" + std::to_string(type + (chance(15) ? 128 : 0));
      if (type == 1) s += " @" + std::to_string(pick(1, 7));
      if (type == 4) s += " @7";
      s += " o" + std::to_string(type == 2 ? pick(1, 7) : pick(3, 6));
      s += " v" + (chance(25) ? std::to_string(pick(0, 15)) + "," + std::to_string(pick(0, 15))
                              : std::to_string(pick(4, 15)));
      if (chance(40)) s += " s" + std::to_string(pick(0, 30)) + "," + std::to_string(pick(-10, 10));
      if (chance(40))
        s += " mp" + std::to_string(pick(1, 30)) + "," + std::to_string(pick(1, 20)) + "," +
             std::to_string(pick(1, 6)) + "," + std::to_string(pick(-5, 5)) + "," + std::to_string(pick(0, 4));
      if (chance(30)) s += " k" + std::to_string(pick(-20, 20));
      if (chance(30)) s += " q" + std::to_string(pick(4, 16));
      s += chance(30) ? " /:" + std::to_string(pick(2, 3)) + " " : " ";
      for (int n = pick(3, 10); n > 0; --n) {
        s += chance(12) ? "r" : kNotes[pick(0, 7)];
        s += kLengths[pick(0, 11)];
        s += " ";
      }
      if (s.find("/:", s.rfind('%')) != std::string::npos) s += " :/";
    }
    s += "\n";
  }
  return s;
}

TEST_F(GbsTiming, fiftyGeneratedSongsKeepTimeAndPitch) {
  int notes = 0;
  double latest = 0;
  for (std::uint32_t seed = 1; seed <= 50; ++seed) {
    const std::string source = fittingSong(seed);
    const TimingCheck check = checkSong(compiled(source), 20, dir_);
    expectOnTime(check, source);
    notes += check.notes;
    latest = std::max(latest, check.latest);
  }
  std::printf("50 generated songs, 20 s each: %d notes, the latest write %.3f ms after the sequencer\n", notes,
              latest * 1000);
}

}  // namespace
}  // namespace qvb::test
