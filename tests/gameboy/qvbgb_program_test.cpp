// qvbgb as a user runs it: the files it writes, the songs it refuses (exit
// status 1, the reason and the channel named, no file written), one warning
// per kind and channel, and the --asm kit assembled and linked by SDCC's
// tools into a ROM that sounds exactly like the one qvbgb writes, and into a
// game that stops the song.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/gambatte_core.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

namespace fs = std::filesystem;

class Qvbgb : public ::testing::Test {
 public:
  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), program(QVBGB_EXE));
    return runProcess(args, dir_);
  }

 protected:
  void SetUp() override { dir_ = makeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }
  std::vector<std::uint8_t> bytes(const std::string& name) {
    const std::string text = readFile(dir_ + "/" + name);
    return {text.begin(), text.end()};
  }
  std::string dir_;
};

TEST_F(Qvbgb, writesARomWithAValidHeaderAndAGbsFileBesideTheSong) {
  writeFile(dir_ + "/castle.qvm", readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm"));
  ASSERT_EQ(run({"castle.qvm"}).exitStatus, 0);
  const auto rom = bytes("castle.gb");
  ASSERT_EQ(rom.size(), 32768u);
  EXPECT_EQ(std::string(rom.begin() + 0x134, rom.begin() + 0x140), "CASTLE STEPS");
  std::uint8_t header = 0;
  for (int i = 0x134; i < 0x14D; ++i) header = static_cast<std::uint8_t>(header - rom[static_cast<std::size_t>(i)] - 1);
  EXPECT_EQ(rom[0x14D], header);
  unsigned sum = 0;
  for (std::size_t i = 0; i < rom.size(); ++i)
    if (i != 0x14E && i != 0x14F) sum += rom[i];
  EXPECT_EQ(rom[0x14E] << 8 | rom[0x14F], static_cast<int>(sum & 0xFFFF));

  ASSERT_EQ(run({"--gbs", "castle.qvm"}).exitStatus, 0);
  const auto gbs = bytes("castle.gbs");
  EXPECT_EQ(std::string(gbs.begin(), gbs.begin() + 3), "GBS");
  EXPECT_EQ(std::string(gbs.begin() + 0x10, gbs.begin() + 0x1C), "Castle Steps");
}

TEST_F(Qvbgb, warnsOncePerKindAndChannelWithTheLineOfTheItemThatAsks) {
  writeFile(dir_ + "/s.qvm",
            "#TITLE <w>\n#CHANNEL 2\n#A v15 %1 @3\no1 c c c\n@5 c s1 c r c\n#B v12 %3\no4 c v8 c d e\n");
  const ProcessResult result = run({"s.qvm"});
  ASSERT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(result.out,
            "s.qvm:4: warning: channel A: notes below the channel's range play at its lowest pitch\n"
            "s.qvm:4: warning: channel A: pulse timbres 3 and 5 have no duty here: played as 25 % and 75 %\n"
            "s.qvm:5: warning: channel A: release 1 is beyond what the hardware envelope can fall; the nearest "
            "pace is taken\n"
            "s.qvm:7: warning: channel B: the wave channel has only the volumes 0, 25, 50 and 100 %: levels are "
            "rounded\n"
            "s.qvm:7: warning: channel B: the wave channel plays 32 samples of 4 bits: its waveform is coarser\n"
            "wrote s.gb (32768 bytes)\n");
}

struct Refusal {
  const char* name;
  const char* source;
  const char* reason;
};

const Refusal kRefusals[] = {
    {"five channels", "#TITLE <f>\n#CHANNEL 5\n#A c\n#B c\n#C c\n#D c\n#E c\n",
     "5 channels: the Game Boy has four sound channels"},
    {"a channel that switches from pulse to sine", "#TITLE <s>\n#CHANNEL 1\n#A v9 %1 c %3 c\n",
     "channel A switches between square or pulse and sine or wave voices"},
    {"a third square channel", "#TITLE <t>\n#CHANNEL 3\n#A v9 c\n#B v9 c\n#C v9 c\n",
     "channel C would be a third square or pulse channel; the Game Boy has two"},
    {"a second noise channel", "#TITLE <n>\n#CHANNEL 2\n#A v9 %2 c\n#B v9 %2 c\n",
     "channel B would be a second noise channel; the Game Boy has one"},
};

TEST_F(Qvbgb, refusesSongsThatDoNotFitNamingTheChannelAndWritesNothing) {
  for (const Refusal& refusal : kRefusals) {
    writeFile(dir_ + "/r.qvm", refusal.source);
    for (const char* option : {"", "--gbs"}) {
      const ProcessResult result = *option != 0 ? run({option, "r.qvm"}) : run({"r.qvm"});
      EXPECT_EQ(result.exitStatus, 1) << refusal.name;
      EXPECT_NE(result.out.find(refusal.reason), std::string::npos) << refusal.name << ": " << result.out;
    }
    const ProcessResult kit = run({"--asm", "kit", "r.qvm"});
    EXPECT_EQ(kit.exitStatus, 1) << refusal.name;
    EXPECT_FALSE(fileExists(dir_ + "/r.gb") || fileExists(dir_ + "/r.gbs") || fileExists(dir_ + "/kit"))
        << refusal.name;
  }
  // A damaged image: the loader's diagnosis.
  writeFile(dir_ + "/d.qvb", std::string("QuaverMachine\0\0\x55\0\x09" "ab", 21));
  const ProcessResult damaged = run({"d.qvb"});
  EXPECT_EQ(damaged.exitStatus, 1);
  EXPECT_NE(damaged.out.find("damaged"), std::string::npos) << damaged.out;
  EXPECT_FALSE(fileExists(dir_ + "/d.gb"));
}

TEST_F(Qvbgb, refusesARomLargerThan32KbWithItsSizeButWritesTheGbs) {
  writeFile(dir_ + "/big.qvm", "#TITLE <big>\n#CHANNEL 1\n#A v9 l16 " + std::string(15000, 'c') + "\n");
  const ProcessResult rom = run({"big.qvm"});
  EXPECT_EQ(rom.exitStatus, 1);
  EXPECT_NE(rom.out.find("without a bank controller it holds 32768"), std::string::npos) << rom.out;
  EXPECT_FALSE(fileExists(dir_ + "/big.gb"));
  EXPECT_EQ(run({"--gbs", "big.qvm"}).exitStatus, 0);
  EXPECT_TRUE(fileExists(dir_ + "/big.gbs"));
}

// The kit linked with a game of its own (the same shell qvbgb's ROMs use,
// naming qvb_song, and the same title) sounds sample for sample like
// qvbgb's ROM.
// The famicom example's --asm kit in dir/kit, linked by SDCC's tools with
// the ROM shell's source (changed by `edit`) into kit/game.gb.
void linkKit(Qvbgb& test, const std::string& dir, const std::function<void(std::string&)>& edit) {
  writeFile(dir + "/castle.qvm", readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm"));
  ASSERT_EQ(test.run({"--asm", "kit", "castle.qvm"}).exitStatus, 0);
  for (const char* name : {"song.s", "qvb_driver.inc", "qvb_driver.s", "qvb_read.s", "qvb_effects.s", "qvb_hw.s",
                           "note_tables.s", "README"})
    ASSERT_TRUE(fileExists(dir + "/kit/" + name)) << name;
  std::string shell = readFile(std::string(QVBP_SOURCE_DIR) + "/gameboy/driver/rom_shell.s");
  for (std::size_t at; (at = shell.find("qvb_song_data")) != std::string::npos;) shell.replace(at, 13, "qvb_song");
  edit(shell);
  writeFile(dir + "/kit/game.s", shell);
  const std::string kit = dir + "/kit";
  const std::vector<std::string> modules = {"game", "qvb_driver", "qvb_read", "qvb_effects", "qvb_hw", "note_tables", "song"};
  for (const std::string& module : modules) {
    const ProcessResult assembled = runProcess({"sdasgb", "-g", "-o", module + ".rel", module + ".s"}, kit);
    ASSERT_EQ(assembled.exitStatus, 0) << module << ": " << assembled.out << assembled.err;
  }
  std::vector<std::string> link = {"sdldgb", "-i", "game.ihx", "-b", "_CODE=0x0400", "-b", "_DATA=0xC000"};
  for (const std::string& module : modules) link.push_back(module + ".rel");
  ASSERT_EQ(runProcess(link, kit).exitStatus, 0);
  // The same title in the header: the shell shows it before the song starts.
  ASSERT_EQ(runProcess({"makebin", "-Z", "-yn", "CASTLE STEPS", "game.ihx", "game.gb"}, kit).exitStatus, 0);
}

std::vector<std::int16_t> soundOf(const std::string& path, int frames) {
  const std::string text = readFile(path);
  GambatteCore core(std::vector<std::uint8_t>(text.begin(), text.end()));
  EXPECT_TRUE(core.ok()) << path;
  for (int frame = 0; frame < frames; ++frame) core.runFrame();
  return core.audio();
}

TEST_F(Qvbgb, theAsmKitLinkedBySdccsToolsPlaysLikeTheRom) {
  linkKit(*this, dir_, [](std::string&) {});
  ASSERT_EQ(run({"castle.qvm"}).exitStatus, 0);
  const std::vector<std::int16_t> rom = soundOf(dir_ + "/castle.gb", 60 * 3);
  ASSERT_GT(rom.size(), 100000u);
  EXPECT_TRUE(rom == soundOf(dir_ + "/kit/game.gb", 60 * 3));
}

// A game that stops the song after its 256th timer interrupt (a second in)
// and keeps NR51 as it was before qvb_init and after qvb_stop.
void stopAfterASecond(std::string& shell) {
  const auto replace = [&shell](const std::string& from, const std::string& to) {
    const std::size_t at = shell.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    shell.replace(at, from.size(), to);
  };
  replace("\tld hl,#qvb_song\n\tcall qvb_init\n",
          "\tldh a,(0x25)\n\tld (nr51_before),a\n\tld hl,#qvb_song\n\tcall qvb_init\n");
  replace("\tcall qvb_update\n\tpop hl\n",
          "\tcall qvb_update\n\tld hl,#interrupts\n\tinc (hl)\n\tjr nz,9$\n\tpush bc\n\tpush de\n"
          "\tcall qvb_stop\n\tpop de\n\tpop bc\n\tldh a,(0x25)\n\tld (nr51_after),a\n9$:\tpop hl\n");
  replace("q_idle::\t.ds 3\n", "q_idle::\t.ds 3\ninterrupts:\t.ds 1\nnr51_before:\t.ds 1\nnr51_after:\t.ds 1\n");
}

TEST_F(Qvbgb, qvbStopSilencesTheSongAndTakesOnlyItsChannelsOutOfNr51) {
  linkKit(*this, dir_, stopAfterASecond);
  const std::string text = readFile(dir_ + "/kit/game.gb");
  GambatteCore core(std::vector<std::uint8_t>(text.begin(), text.end()));
  ASSERT_TRUE(core.ok());
  for (int frame = 0; frame < 90; ++frame) core.runFrame();
  const std::size_t stopped = core.audio().size();
  for (int frame = 0; frame < 60; ++frame) core.runFrame();
  const std::vector<std::int16_t>& sound = core.audio();
  // Loud before the stop, one level from a little after it on.
  const auto [low, high] = std::minmax_element(sound.begin() + 20000, sound.begin() + 40000);
  EXPECT_GT(*high - *low, 1000);
  EXPECT_TRUE(std::all_of(sound.begin() + static_cast<std::ptrdiff_t>(stopped), sound.end(),
                          [&sound, stopped](std::int16_t s) { return s == sound[stopped]; }));
  // Pulse 1, pulse 2 and the wave channel out of NR51; the noise channel's bits as before.
  const int before = core.ram(0xC004), after = core.ram(0xC005);
  EXPECT_EQ(after & 0x77, 0);
  EXPECT_EQ(after & 0x88, before & 0x88);
  EXPECT_NE(before & 0x77, 0);
}

}  // namespace
}  // namespace qvb::test
