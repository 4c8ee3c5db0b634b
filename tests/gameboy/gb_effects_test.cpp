// A game's sound effect over the song, through the driver's C interface: a
// C game built with sdcc -msm83 and linked with the --asm kit, run as a GBS
// file in gbsplay, takes pulse 2 and the wave channel, gives them back and
// stops the song (tests/gameboy/effects/game.c). Its register writes are
// held against those of qvbgb's own GBS file of the song, which the game
// must not change anywhere but where it asked to.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/gameboy/gb_harness.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

constexpr int kSeconds = 10;
constexpr double kSameTime = 0.00005;  // the C game's init starts the song a few cycles later
constexpr double kSameRecord = 0.0005; // records lie a slot (0.98 ms) apart at least

std::string effectsFile(const std::string& name) {
  return readFile(std::string(QVBP_SOURCE_DIR) + "/tests/gameboy/effects/" + name);
}

void run(const std::vector<std::string>& args, const std::string& dir) {
  const ProcessResult result = runProcess(args, dir);
  ASSERT_EQ(result.exitStatus, 0) << args[0] << ": " << result.out << result.err;
}

// The game and the kit linked at 0x0400 and wrapped as a GBS file.
std::string buildEffectsGame(const std::string& dir) {
  writeFile(dir + "/effects.qvm", effectsFile("effects.qvm"));
  run({program(QVBGB_EXE), "--gbs", "effects.qvm"}, dir);
  run({program(QVBGB_EXE), "--asm", "kit", "effects.qvm"}, dir);
  const std::string kit = dir + "/kit";
  writeFile(kit + "/game.c", effectsFile("game.c"));
  writeFile(kit + "/entry.s", effectsFile("entry.s"));
  run({"sdcc", "-msm83", "-c", "game.c"}, kit);
  for (const char* module : {"entry", "qvb_driver", "effects"})
    run({"sdasgb", "-o", std::string(module) + ".rel", std::string(module) + ".s"}, kit);
  run({"sdldgb", "-i", "game.ihx", "-b", "_CODE=0x0400", "-b", "_DATA=0xC000", "entry.rel", "game.rel",
       "qvb_driver.rel", "effects.rel"},
      kit);
  run({"makebin", "-s", "32768", "game.ihx", "game.bin"}, kit);
  const std::string image = readFile(kit + "/game.bin");
  std::string gbs(0x70, '\0');
  const unsigned char fields[] = {'G', 'B', 'S', 1, 1, 1, 0x00, 0x04, 0x00, 0x04, 0x03, 0x04, 0xFE, 0xFF, 0, 0x04};
  gbs.replace(0, sizeof fields, reinterpret_cast<const char*>(fields), sizeof fields);
  gbs += image.substr(0x400);
  writeFile(dir + "/game.gbs", gbs);
  return dir + "/game.gbs";
}

// Where the game marked a step (its write of NR50).
std::size_t marker(const std::vector<RegisterWrite>& writes, int value) {
  for (std::size_t i = 0; i < writes.size(); ++i)
    if (writes[i].reg == 0x24 && writes[i].value == value) return i;
  ADD_FAILURE() << "no mark " << value;
  return writes.size();
}

// The registers as the writes up to `seconds` left them (0 if never written).
std::array<int, 0x40> stateAt(const std::vector<RegisterWrite>& writes, double seconds) {
  std::array<int, 0x40> state{};
  for (const RegisterWrite& write : writes)
    if (write.seconds <= seconds) state[static_cast<std::size_t>(write.reg)] = write.value;
  return state;
}

struct Write {
  int reg, value;
  bool operator==(const Write&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Write& write) {
    return out << std::hex << "ff" << write.reg << "=" << write.value << std::dec;
  }
};

std::vector<Write> between(const std::vector<RegisterWrite>& writes, std::size_t from, std::size_t to) {
  std::vector<Write> out;
  for (std::size_t i = from; i < to && i < writes.size(); ++i) out.push_back({writes[i].reg, writes[i].value});
  return out;
}

bool isTaken(int reg) { return (reg >= 0x15 && reg <= 0x1E) || (reg >= 0x30 && reg <= 0x3F); }

TEST(GbEffects, aCGameTakesChannelsForAnEffectGivesThemBackAsTheSongHasThemAndStopsIt) {
  const std::string dir = makeTempDir();
  const std::string game = buildEffectsGame(dir);
  ASSERT_FALSE(HasFailure());
  const std::vector<RegisterWrite> song = gbsplayWrites(dir + "/effects.gbs", kSeconds);
  const std::vector<RegisterWrite> played = gbsplayWrites(game, kSeconds);
  const std::size_t take = marker(played, 0x76), give = marker(played, 0x75), stop = marker(played, 0x74);
  ASSERT_TRUE(take < give && give < stop && stop < played.size());

  // Until the effect: the song's writes, at the song's times.
  ASSERT_GT(song.size(), take);
  for (std::size_t i = 0; i < take; ++i) {
    ASSERT_EQ((Write{played[i].reg, played[i].value}), (Write{song[i].reg, song[i].value})) << i;
    ASSERT_NEAR(played[i].seconds, song[i].seconds, kSameTime) << i;
  }

  // Taken: the channels silenced once, then only the game's own writes; the
  // song's panning goes on around the game's NR51 bits.
  std::vector<Write> taken;
  for (const Write& write : between(played, take + 1, give))
    if (isTaken(write.reg)) taken.push_back(write);
  std::vector<Write> expected = {{0x17, 0}, {0x1A, 0}, {0x1A, 0}};
  for (int reg = 0x30; reg <= 0x3F; ++reg) expected.push_back({reg, 0x5A});
  for (const Write write : {Write{0x1A, 0x80}, {0x1C, 0x20}, {0x1D, 0x5A}, {0x1E, 0x87}, {0x16, 0x80},
                            {0x17, 0xF0}, {0x18, 0x5A}, {0x19, 0x87}})
    expected.push_back(write);
  EXPECT_EQ(taken, expected);
  std::size_t gameNr51 = take;
  while (gameNr51 < give && !(played[gameNr51].reg == 0x25 && (played[gameNr51].value & 0x66) == 0x66)) ++gameNr51;
  int panned = 0;
  for (std::size_t i = gameNr51 + 1; i < give; ++i) {
    if (played[i].reg != 0x25) continue;
    ++panned;
    EXPECT_EQ(played[i].value & 0x66, 0x66) << played[i].seconds;
    EXPECT_EQ(played[i].value & 0x11, stateAt(song, played[i].seconds + kSameRecord)[0x25] & 0x11);
  }
  EXPECT_GT(panned, 0);

  // Given back: both channels at once as the song has them now, wave RAM first.
  const std::array<int, 0x40> now = stateAt(song, played[give].seconds + kSameRecord);
  expected.clear();
  for (int reg = 0x15; reg <= 0x18; ++reg) expected.push_back({reg, now[static_cast<std::size_t>(reg)]});
  expected.push_back({0x19, now[0x19] | 0x80});
  expected.push_back({0x1A, 0});
  for (int reg = 0x30; reg <= 0x3F; ++reg) expected.push_back({reg, now[static_cast<std::size_t>(reg)]});
  for (int reg = 0x1A; reg <= 0x1D; ++reg) expected.push_back({reg, now[static_cast<std::size_t>(reg)]});
  expected.push_back({0x1E, now[0x1E] | 0x80});
  const std::size_t back = give + 1 + expected.size();
  ASSERT_LT(back, stop);
  EXPECT_EQ(between(played, give + 1, back), expected);
  ASSERT_EQ(played[back].reg, 0x25);
  EXPECT_EQ(played[back].value, now[0x25]);

  // Then the song's writes again, until the stop.
  std::vector<Write> songAfter;
  for (const RegisterWrite& write : song)
    if (write.seconds > played[give].seconds + kSameRecord && write.seconds < played[stop].seconds + kSameRecord)
      songAfter.push_back({write.reg, write.value});
  EXPECT_EQ(between(played, back + 1, stop), songAfter);

  // Stopped: the song's channels silent and out of NR51, and nothing more,
  // though the game takes pulse 2 and gives it back after the stop (NR51
  // written again as it is).
  const std::vector<Write> stopped = between(played, stop + 1, played.size());
  ASSERT_GE(stopped.size(), 5u);
  for (std::size_t i = 5; i < stopped.size(); ++i) EXPECT_EQ(stopped[i], stopped[4]) << i;
  EXPECT_EQ(std::vector<Write>(stopped.begin(), stopped.begin() + 4),
            (std::vector<Write>{{0x10, 0}, {0x12, 0}, {0x17, 0}, {0x1A, 0}}));
  EXPECT_EQ(stopped[4].reg, 0x25);
  EXPECT_EQ(stopped[4].value & 0x77, 0);
  EXPECT_EQ(stopped[4].value & 0x88, now[0x25] & 0x88);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qvb::test
