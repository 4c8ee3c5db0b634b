// qvbgb as a user runs it: the files it writes, the songs it refuses (exit
// status 1, the reason and the channel named, no file written), one warning
// per kind and channel, and the --asm kit (the licence's notice in its
// driver files) assembled and linked by SDCC's tools into a ROM that sounds
// exactly like the one qvbgb writes, and into a game that stops the song.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "qvbp_version.h"
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
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err,
            "s.qvm:4: warning: channel A: notes below the channel's range play at its lowest pitch\n"
            "s.qvm:4: warning: channel A: pulse timbres 3 and 5 have no duty here: played as 25 % and 75 %\n"
            "s.qvm:5: warning: channel A: release 1 is beyond what the hardware envelope can fall; the nearest "
            "pace is taken\n"
            "s.qvm:7: warning: channel B: the wave channel has only the volumes 0, 25, 50 and 100 %: levels are "
            "rounded\n"
            "s.qvm:7: warning: channel B: the wave channel plays 32 samples of 4 bits: its waveform is coarser\n");
  EXPECT_EQ(result.out, "wrote s.gb (32768 bytes)\n");
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
      EXPECT_NE(result.err.find(refusal.reason), std::string::npos) << refusal.name << ": " << result.err;
      EXPECT_EQ(result.out, "") << refusal.name;
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
  EXPECT_NE(damaged.err.find("damaged"), std::string::npos) << damaged.err;
  EXPECT_FALSE(fileExists(dir_ + "/d.gb"));
}

// The folder's entries, sorted.
std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    names.push_back(entry.path().lexically_relative(dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kTune = "#TITLE <t>\n#CHANNEL 1\n#A v9 c\n";

// A source named as one of the files it makes, or linked there.
TEST_F(Qvbgb, refusesToWriteOverItsOwnInput) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"tune.gb"}, "tune.gb"},
      {{"--gbs", "tune.gbs"}, "tune.gbs"},
      {{"--gbs", "tune.m3u"}, "tune.m3u"},
      {{"--vgm", "tune.vgm"}, "tune.vgm"},
      {{"--asm", "kit", "kit/song.s"}, "kit/song.s"},
      {{"--asm", "kit", "kit/song.h"}, "kit/song.h"},
      {{"--asm", "kit", "kit/README"}, "kit/README"},
  };
  fs::create_directory(dir_ + "/kit");
  for (const auto& [args, input] : cases) {
    writeFile(dir_ + "/" + input, kTune);
    const std::vector<std::string> before = entries(dir_);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, 1) << input;
    EXPECT_NE(result.err.find("qvbgb: " + input + " would overwrite the input\n"), std::string::npos) << result.err;
    EXPECT_TRUE(readFile(dir_ + "/" + input) == kTune) << input << " is overwritten";
    EXPECT_EQ(entries(dir_), before) << input;
    fs::remove(dir_ + "/" + input);
  }
  writeFile(dir_ + "/tune.qvm", kTune);
  fs::create_symlink("tune.qvm", dir_ + "/tune.gb");
  EXPECT_NE(run({"tune.qvm"}).err.find("qvbgb: tune.gb would overwrite the input\n"), std::string::npos);
  EXPECT_TRUE(readFile(dir_ + "/tune.qvm") == kTune) << "tune.qvm is overwritten";
}

// The source's #COMPOSER and #COPYRIGHT, or the options, which win, as
// gbsplay's gbsinfo shows a GBS file's author and copyright (printable
// ASCII, 32 bytes at most); the VGM file's tag has the composer whole.
TEST_F(Qvbgb, writesTheComposerAndCopyrightIntoTheGbsAndVgmFilesTheOptionsWinning) {
  writeFile(dir_ + "/s.qvm", "#COMPOSER <Zo\u00EB Doe>\n#COPYRIGHT <2024 The Long-Named Music Company Limited>\n" + kTune);
  const struct {
    std::vector<std::string> args;
    std::string author, copyright;
  } cases[] = {
      {{"--gbs", "s.qvm"}, "Zo?? Doe", "2024 The Long-Named Music Compan"},
      {{"--gbs", "--composer", "Me", "--copyright", "", "s.qvm"}, "Me", ""},
  };
  const auto field = [](const std::string& info, const std::string& name) {
    const std::size_t at = info.find("\n" + name + ":");
    const std::size_t open = info.find('"', at), close = info.find("\"\n", open + 1);
    return at == std::string::npos || close == std::string::npos ? "(no " + name + ")" : info.substr(open + 1, close - open - 1);
  };
  for (const auto& c : cases) {
    ASSERT_EQ(run(c.args).exitStatus, 0);
    const ProcessResult info = runProcess({"gbsinfo", "s.gbs"}, dir_);
    EXPECT_EQ(field(info.out, "Author"), c.author) << info.out;
    EXPECT_EQ(field(info.out, "Copyright"), c.copyright) << info.out;
  }
  ASSERT_EQ(run({"--vgm", "s.qvm"}).exitStatus, 0);
  // The author in UTF-16, between the fields' terminators.
  static constexpr char kAuthor[] = "\0\0Z\0o\0\xEB\0 \0D\0o\0e\0\0\0";
  EXPECT_NE(readFile(dir_ + "/s.vgm").find(std::string(kAuthor, sizeof kAuthor - 1)), std::string::npos);
}

// Help and the version answer on standard output; a wrong command line says
// why on standard error, with the usage, and writes nothing.
TEST_F(Qvbgb, answersHelpAndVersionOnStandardOutputAndAWrongLineOnStandardError) {
  writeFile(dir_ + "/t.qvm", kTune);
  const std::string usage = "usage: qvbgb ";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // what each stream starts with
  } cases[] = {
      {{"--version"}, 0, std::string("qvbgb ") + kVersion + "\n", ""},
      {{"--gbs", "--version", "t.qvm"}, 0, std::string("qvbgb ") + kVersion + "\n", ""},
      {{"-h"}, 0, usage, ""},
      {{"--help", "t.qvm"}, 0, usage, ""},
      {{"--frobnicate", "t.qvm"}, 2, "", "qvbgb: unknown option --frobnicate\n" + usage},
      {{"t.qvm", "t.qvm"}, 2, "", "qvbgb: one song only\n" + usage},
      {{"--gbs", "--vgm", "t.qvm"}, 2, "", "qvbgb: --gbs, --vgm and --asm exclude one another\n" + usage},
      {{"--asm", "kit", "--bank", "0", "t.qvm"}, 2, "", "qvbgb: --bank takes a bank from 1 to 255\n" + usage},
      {{}, 2, "", "qvbgb: no song given\n" + usage},
  };
  for (const auto& c : cases) {
    const ProcessResult result = run(c.args);
    const std::string line = ::testing::PrintToString(c.args);
    EXPECT_EQ(result.exitStatus, c.status) << line;
    // An empty start stands for a stream with nothing on it.
    EXPECT_EQ(c.out.empty() ? result.out : result.out.substr(0, c.out.size()), c.out) << line;
    EXPECT_EQ(c.err.empty() ? result.err : result.err.substr(0, c.err.size()), c.err) << line;
  }
  EXPECT_EQ(entries(dir_), std::vector<std::string>{"t.qvm"});
}

// A full disk (the always-full device) and a file size limit: the system's
// reason, no file written, and no folder left that qvbgb made for the kit.
TEST_F(Qvbgb, aFailedWriteSaysWhyAndLeavesNothingBehind) {
  writeFile(dir_ + "/tune.qvm", kTune);
  for (const auto& [args, full] : {std::pair<std::vector<std::string>, std::string>{{"tune.qvm"}, "tune.gb"},
                                   {{"--gbs", "tune.qvm"}, "tune.m3u"}}) {
    fs::create_symlink("/dev/full", dir_ + "/" + full);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, 1) << full;
    EXPECT_NE(result.err.find("qvbgb: cannot write " + full + ": No space left on device\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(entries(dir_), (std::vector<std::string>{full, "tune.qvm"}));
    fs::remove(dir_ + "/" + full);
  }
  const ProcessResult limited = runProcess(
      {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec " + program(QVBGB_EXE) + " --asm new/kit tune.qvm"}, dir_);
  EXPECT_EQ(limited.exitStatus, 1);
  EXPECT_NE(limited.err.find("qvbgb: cannot write new/kit/"), std::string::npos) << limited.err;
  EXPECT_NE(limited.err.find(": File too large\n"), std::string::npos) << limited.err;
  EXPECT_EQ(entries(dir_), std::vector<std::string>{"tune.qvm"});
}

// Past 32 KB the ROM is banked: an MBC5 cartridge by default, MBC1 when
// asked, its size a power of two that the header states.
TEST_F(Qvbgb, writesASongLongerThan32KbAsABankedRomOfTheCartridgeAskedFor) {
  writeFile(dir_ + "/big.qvm", "#TITLE <big>\n#CHANNEL 1\n#A v9 l16 " + std::string(15000, 'c') + "\n");
  for (const auto& [option, type] : {std::pair{"", 0x19}, std::pair{"--mbc1", 0x01}}) {
    const ProcessResult result = *option != 0 ? run({option, "big.qvm"}) : run({"big.qvm"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const auto rom = bytes("big.gb");
    ASSERT_GE(rom.size(), 65536u);
    EXPECT_EQ(rom.size() & (rom.size() - 1), 0u) << rom.size();
    EXPECT_EQ(result.out, "wrote big.gb (" + std::to_string(rom.size()) + " bytes)\n");
    EXPECT_EQ(rom[0x147], type) << option;
    EXPECT_EQ(32768u << rom[0x148], rom.size()) << option;
  }
}

// The famicom example's --asm kit in dir/kit, linked by SDCC's tools with
// the ROM shell's source (naming the kit's song, changed by `edit`) into
// kit/game.gb, with the title qvbgb's ROM has.
void linkKit(Qvbgb& test, const std::string& dir, const std::function<void(std::string&)>& edit) {
  writeFile(dir + "/castle.qvm", readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm"));
  ASSERT_EQ(test.run({"--asm", "kit", "castle.qvm"}).exitStatus, 0);
  for (const char* name : {"castle.s", "castle.h", "qvb_hw.inc", "qvb_format.inc", "qvb_driver.s", "qvb.h", "README"})
    ASSERT_TRUE(fileExists(dir + "/kit/" + name)) << name;
  std::string shell = readFile(std::string(QVBP_SOURCE_DIR) + "/gameboy/driver/rom_shell.s");
  for (std::size_t at; (at = shell.find("qvb_song_data")) != std::string::npos;) shell.replace(at, 13, "qvb_song_castle");
  edit(shell);
  writeFile(dir + "/kit/game.s", shell);
  const std::string kit = dir + "/kit";
  const std::vector<std::string> modules = {"game", "qvb_driver", "castle"};
  for (const std::string& module : modules) {
    const ProcessResult assembled = runProcess({"sdasgb", "-g", "-o", module + ".rel", module + ".s"}, kit);
    ASSERT_EQ(assembled.exitStatus, 0) << module << ": " << assembled.out << assembled.err;
  }
  std::vector<std::string> link = {"sdldgb", "-i", "game.ihx", "-b", "_CODE=0x0400", "-b", "_DATA=0xC000"};
  for (const std::string& module : modules) link.push_back(module + ".rel");
  const ProcessResult linked = runProcess(link, kit);
  ASSERT_EQ(linked.exitStatus, 0) << linked.out << linked.err;
  ASSERT_EQ(runProcess({"makebin", "-Z", "-yn", "CASTLE STEPS", "game.ihx", "game.gb"}, kit).exitStatus, 0);
}

std::vector<std::int16_t> soundOf(const std::string& path, int frames) {
  const std::string text = readFile(path);
  GambatteCore core(std::vector<std::uint8_t>(text.begin(), text.end()));
  EXPECT_TRUE(core.ok()) << path;
  for (int frame = 0; frame < frames; ++frame) core.runFrame();
  return core.audio();
}

// Linked with the shell of qvbgb's ROMs, the kit sounds sample for sample
// like qvbgb's ROM.
TEST_F(Qvbgb, theAsmKitLinkedBySdccsToolsPlaysLikeTheRom) {
  linkKit(*this, dir_, [](std::string&) {});
  ASSERT_EQ(run({"castle.qvm"}).exitStatus, 0);
  const std::vector<std::int16_t> rom = soundOf(dir_ + "/castle.gb", 60 * 3);
  ASSERT_GT(rom.size(), 100000u);
  EXPECT_TRUE(rom == soundOf(dir_ + "/kit/game.gb", 60 * 3));
}

// A game needs no notice for the driver in its ROM, but the kit's sources
// keep LICENSE whole, in each file's own comments, and its README says so.
TEST_F(Qvbgb, everyDriverFileInTheKitOpensWithTheWholeLicenceNotice) {
  writeFile(dir_ + "/tune.qvm", "#TITLE <tune>\n#CHANNEL 1\n#A v9 l8 c d e\n");
  ASSERT_EQ(run({"--asm", "kit", "tune.qvm"}).exitStatus, 0);
  const std::string licence = readFile(std::string(QVBP_SOURCE_DIR) + "/LICENSE");
  const auto commented = [&licence](const std::string& marker) {
    std::string text;
    std::istringstream lines(licence);
    for (std::string line; std::getline(lines, line);) text += marker + (line.empty() ? "" : " " + line) + "\n";
    return text;
  };
  for (const char* name : {"qvb_hw.inc", "qvb_format.inc", "qvb_driver.s", "qvb.h"}) {
    const std::string text = readFile(dir_ + "/kit/" + name);
    EXPECT_LT(text.find(commented(std::string(name) == "qvb.h" ? " *" : ";;")), 200u) << name << ":\n" << text;
  }
  EXPECT_NE(readFile(dir_ + "/kit/README").find("needs no notice in the ROM"), std::string::npos);
}

// Two songs in one game, titled like the driver's routines: each song's
// data are named after its file, the title names nothing, and both link.
TEST_F(Qvbgb, twoSongsTitledLikeTheDriversRoutinesLinkIntoOneGame) {
  writeFile(dir_ + "/intro.qvm", "#TITLE <qvb_init>\n#CHANNEL 1\n#A v9 l8 c d e f\n");
  writeFile(dir_ + "/tick.qvm", "#TITLE <tick>\n#CHANNEL 1\n#A v9 %3 l8 g a b\n");
  ASSERT_EQ(run({"--asm", "kit", "intro.qvm"}).exitStatus, 0);
  ASSERT_EQ(run({"--asm", "kit", "tick.qvm"}).exitStatus, 0);
  std::string shell = readFile(std::string(QVBP_SOURCE_DIR) + "/gameboy/driver/rom_shell.s");
  for (std::size_t at; (at = shell.find("qvb_song_data")) != std::string::npos;) shell.replace(at, 13, "qvb_song_intro");
  writeFile(dir_ + "/kit/game.s", shell + "\t.globl qvb_song_tick\n\t.area _CODE\n\tld de,#qvb_song_tick\n");
  const std::string kit = dir_ + "/kit";
  for (const char* module : {"game", "qvb_driver", "intro", "tick"}) {
    const ProcessResult assembled = runProcess({"sdasgb", "-o", std::string(module) + ".rel", std::string(module) + ".s"}, kit);
    ASSERT_EQ(assembled.exitStatus, 0) << module << ": " << assembled.out << assembled.err;
  }
  const ProcessResult linked = runProcess(
      {"sdldgb", "-i", "game.ihx", "-b", "_CODE=0x0400", "-b", "_DATA=0xC000", "game.rel", "qvb_driver.rel", "intro.rel", "tick.rel"}, kit);
  EXPECT_EQ(linked.exitStatus, 0) << linked.out << linked.err;
  EXPECT_EQ((linked.out + linked.err).find("Multiple definition"), std::string::npos) << linked.out << linked.err;
  EXPECT_NE(readFile(kit + "/tick.h").find("extern const uint8_t qvb_song_tick[];"), std::string::npos);
}

// A game that stops the song from its main loop some 0.75 s in (the idle
// counter's third byte at 2), with the timer interrupt off, and keeps NR51
// as it was before qvb_init and after qvb_stop.
void stopFromTheMainLoop(std::string& shell) {
  const auto replace = [&shell](const std::string& from, const std::string& to) {
    const std::size_t at = shell.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    shell.replace(at, from.size(), to);
  };
  replace("\tld de,#qvb_song_castle\n", "\tldh a,(0x25)\n\tld (nr51_before),a\n\tld de,#qvb_song_castle\n");
  replace("\tinc hl\n\tinc (hl)\n\tjr idle\n",
          "\tinc hl\n\tinc (hl)\n\tld a,(hl)\n\tcp #2\n\tjr nz,idle\n\tdi\n\tcall qvb_stop\n"
          "\tldh a,(0x25)\n\tld (nr51_after),a\n\tei\n\tjr idle\n");
  replace("q_idle::\t.ds 3\n", "q_idle::\t.ds 3\nunused:\t.ds 1\nnr51_before:\t.ds 1\nnr51_after:\t.ds 1\n");
}

TEST_F(Qvbgb, qvbStopSilencesTheSongAndTakesOnlyItsChannelsOutOfNr51) {
  linkKit(*this, dir_, stopFromTheMainLoop);
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

// The C example game (examples/gameboy-c) built with sdcc -msm83 and the
// famicom song's kit, as its README says.
std::vector<std::uint8_t> buildCExample(Qvbgb& test, const std::string& dir) {
  writeFile(dir + "/famicom.qvm", readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm"));
  EXPECT_EQ(test.run({"--asm", "kit", "famicom.qvm"}).exitStatus, 0);
  const std::string kit = dir + "/kit";
  for (const char* name : {"game.c", "crt0.s"})
    writeFile(kit + "/" + name, readFile(std::string(QVBP_SOURCE_DIR) + "/examples/gameboy-c/" + name));
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"sdcc", "-msm83", "-c", "game.c"},
           {"sdasgb", "-o", "crt0.rel", "crt0.s"},
           {"sdasgb", "-o", "qvb_driver.rel", "qvb_driver.s"},
           {"sdasgb", "-o", "famicom.rel", "famicom.s"},
           {"sdldgb", "-i", "game.ihx", "-b", "_CODE=0x0200", "-b", "_DATA=0xC000", "crt0.rel", "game.rel",
            "qvb_driver.rel", "famicom.rel"},
           {"makebin", "-Z", "game.ihx", "game.gb"}}) {
    const ProcessResult result = runProcess(step, kit);
    EXPECT_EQ(result.exitStatus, 0) << step[0] << ": " << result.out << result.err;
  }
  const std::string rom = readFile(kit + "/game.gb");
  return {rom.begin(), rom.end()};
}

// The example's sound over `frames`, A pressed at frame `jump` (none if
// negative) and Start at frame `stop`.
std::vector<std::int16_t> playCExample(const std::vector<std::uint8_t>& rom, int frames, int jump, int stop) {
  GambatteCore core(rom);
  EXPECT_TRUE(core.ok());
  for (int frame = 0; frame < frames; ++frame) {
    core.holdButtons(frame == jump ? GambatteCore::kButtonA : frame == stop ? GambatteCore::kButtonStart : 0);
    core.runFrame();
  }
  return core.audio();
}

// Before the jump the game sounds as the song alone, the jump changes the
// sound at once, the song goes on after it, and Start silences it (the
// output settles to one level).
TEST_F(Qvbgb, theCExampleGameJumpsOverTheSongAndStopsItOnStart) {
  const std::vector<std::uint8_t> rom = buildCExample(*this, dir_);
  ASSERT_FALSE(HasFailure());
  const std::vector<std::int16_t> plain = playCExample(rom, 360, -1, 240);
  const std::vector<std::int16_t> jumped = playCExample(rom, 360, 60, 240);
  ASSERT_EQ(plain.size(), jumped.size());
  const std::size_t perFrame = plain.size() / 360;  // about: frames differ by a sample
  const auto frames = [perFrame](const std::vector<std::int16_t>& sound, int from, int to) {
    return std::vector<std::int16_t>(sound.begin() + static_cast<std::ptrdiff_t>(perFrame * static_cast<std::size_t>(from)),
                                     sound.begin() + static_cast<std::ptrdiff_t>(perFrame * static_cast<std::size_t>(to)));
  };
  const auto range = [](const std::vector<std::int16_t>& sound) {
    const auto [low, high] = std::minmax_element(sound.begin(), sound.end());
    return *high - *low;
  };
  EXPECT_GT(range(frames(plain, 0, 58)), 1000);
  EXPECT_EQ(frames(plain, 0, 58), frames(jumped, 0, 58));
  EXPECT_NE(frames(plain, 62, 75), frames(jumped, 62, 75));
  EXPECT_GT(range(frames(jumped, 180, 238)), 1000);
  const std::vector<std::int16_t> stopped = frames(jumped, 290, 360);
  EXPECT_EQ(range(stopped), 0);
}

}  // namespace
}  // namespace qvb::test
