// The VGM file and the playlist line of a song, read back by a reader of our
// own made from the formats' layouts: the header's offsets, lengths and
// clock, the loop where the song's tempo puts it, the GD3 strings; the file
// played by gbsplay at the pitch of the note's frequency register, and
// sounding as the GBS file of the same song does there.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gameboy/gb_files.h"
#include "gameboy/gb_vgm.h"
#include "loader/song_loader.h"
#include "tests/gameboy/gb_harness.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

// A quarter note at t120, in samples: 48 ticks of floor(27562 / 120) pairs.
constexpr std::int64_t kQuarter = 48 * (27562 / 120) * 2;

struct Vgm {
  std::uint32_t version = 0, totalSamples = 0, loopSamples = 0, dmgClock = 0;
  std::int64_t waited = 0, loopAt = -1;      // samples; the loop offset's time
  bool ended = false;                        // the data end with 0x66 where the GD3 tag begins
  std::array<int, 0x30> regs{}, loopRegs{};  // the registers at the end and at the loop
  std::vector<std::u16string> tags;
};

Vgm readVgm(const std::vector<std::uint8_t>& b) {
  Vgm v;
  const auto u32 = [&b](std::size_t at) {
    return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24 : 0u;
  };
  if (b.size() < 0x100 || std::memcmp(b.data(), "Vgm ", 4) != 0 || u32(4) + 4 != b.size()) return v;
  v.version = u32(8), v.totalSamples = u32(0x18), v.loopSamples = u32(0x20), v.dmgClock = u32(0x80);
  const std::size_t gd3 = u32(0x14) + 0x14, loop = u32(0x1C) != 0 ? u32(0x1C) + 0x1C : 0;
  if (gd3 + 12 > b.size()) return v;
  std::size_t at = u32(0x34) + 0x34;
  while (at < gd3 && b[at] != 0x66) {
    if (at == loop) v.loopAt = v.waited, v.loopRegs = v.regs;
    const int c = b[at];
    if (c == 0xB3 && b[at + 1] < v.regs.size()) {
      // NRx4's bit 7 restarts the channel: an act, not a state the register keeps.
      const bool nrx4 = b[at + 1] == 0x04 || b[at + 1] == 0x09 || b[at + 1] == 0x0E || b[at + 1] == 0x13;
      v.regs[b[at + 1]] = b[at + 2] & (nrx4 ? 0x7F : 0xFF);
    }
    v.waited += c == 0x61            ? b[at + 1] | b[at + 2] << 8
                : c == 0x62          ? 735
                : c == 0x63          ? 882
                : (c & 0xF0) == 0x70 ? (c & 15) + 1
                                     : 0;
    at += c == 0xB3 || c == 0x61 ? 3 : 1;
  }
  if (at == loop) v.loopAt = v.waited, v.loopRegs = v.regs;
  v.ended = at + 1 == gd3 && std::memcmp(b.data() + gd3, "Gd3 \0\1\0\0", 8) == 0 && u32(gd3 + 8) + gd3 + 12 == b.size();
  v.tags.emplace_back();
  for (std::size_t i = gd3 + 12; i + 1 < b.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(b[i] | b[i + 1] << 8);
    if (c != 0)
      v.tags.back().push_back(c);
    else
      v.tags.emplace_back();
  }
  v.tags.pop_back();
  return v;
}

gb::GbSong gbSong(const std::string& source, std::vector<std::uint8_t>& image) {
  const LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  EXPECT_TRUE(song.ok()) << source;
  image = song.image;
  return gb::buildGbSong(image);
}

// Where the first note starts, in samples, as the sequencer has it.
std::int64_t firstNote(const std::vector<std::uint8_t>& image) {
  for (const HeardEvent& event : sequencerEvents(image, 1))
    if (event.kind == SequencerEventKind::NoteOn) return std::lround(event.seconds * 44100);
  return -1;
}

struct Case {
  const char* name;
  const char* source;
  int introQuarters, loopQuarters;  // from the first note; loop 0: the song ends after its intro
};

const Case kCases[] = {
    {"one channel looping after an intro", "#CHANNEL 1\n#A t120 v15 %1 o4 c4 $ d4 e4\n", 1, 2},
    {"loops of two and three quarters, sharing one of six",
     "#CHANNEL 2\n#A t120 v15 %1 o4 c4 $ d4 e4\n#B v9 o3 c4 $ c4 d4 e4\n", 1, 6},
    {"a song that ends", "#CHANNEL 1\n#A t120 v15 %1 o4 c4 c4\n", 2, 0},
};

TEST(GbVgm, theHeaderTheLoopAndTheTagReadBackAsTheSongHasThem) {
  for (const Case& c : kCases) {
    const std::string source = std::string("#TITLE <Ring, f\xC3\xBCr \xE2\x99\xAA >\n") + c.source;
    std::vector<std::uint8_t> image;
    const gb::GbSong song = gbSong(source, image);
    const gb::VgmFile file = gb::makeVgm(song);
    ASSERT_TRUE(file.ok) << c.name << ": " << file.refusal;
    const Vgm vgm = readVgm(file.bytes);
    EXPECT_TRUE(vgm.ended) << c.name;
    EXPECT_EQ(vgm.version, 0x161u);
    EXPECT_EQ(vgm.dmgClock, 4194304u);
    EXPECT_EQ(vgm.totalSamples, vgm.waited) << c.name;
    const std::int64_t intro = firstNote(image) + c.introQuarters * kQuarter;
    if (c.loopQuarters > 0) {
      EXPECT_EQ(vgm.loopAt, intro) << c.name;
      EXPECT_EQ(vgm.loopRegs, vgm.regs) << c.name << ": the end leaves the registers as the loop found them";
      EXPECT_EQ(vgm.loopSamples, c.loopQuarters * kQuarter) << c.name;
      EXPECT_EQ(vgm.totalSamples, intro + c.loopQuarters * kQuarter) << c.name;
    } else {
      EXPECT_EQ(vgm.loopAt, -1) << c.name;
      EXPECT_EQ(vgm.loopSamples, 0u) << c.name;
      EXPECT_EQ(vgm.totalSamples, intro + 44100) << c.name;  // a second of tail
    }
    const std::vector<std::u16string> tags = {
        u"Ring, f\u00FCr \u266A ", u"", u"", u"", u"Nintendo Game Boy", u"", u"", u"", u"", u"qvbgb", u""};
    EXPECT_EQ(vgm.tags, tags) << c.name;
  }
}

// Players' fields: file::GBS,track,title,length,loop,fade; a backslash keeps
// the character after it in the field.
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size())
      out.back() += line[++i];
    else if (line[i] == ',')
      out.emplace_back();
    else
      out.back() += line[i];
  }
  return out;
}

TEST(GbPlaylist, aLoopingSongPlaysTwoLoopsAndFadesAndOneThatEndsPlaysToItsTail) {
  std::vector<std::uint8_t> image;
  // Intro 92 units (4.17 ms) + a quarter (0.4985 s); loops of 0.9971 s.
  const std::string looping =
      gb::playlistLine(gbSong("#TITLE <Ring, \\\\ two>\n" + std::string(kCases[0].source), image), "ring,1.gbs");
  EXPECT_EQ(fields(looping),
            (std::vector<std::string>{"ring,1.gbs::GBS", "1", "Ring, \\ two", "0:02.497", "0:00.997", "0:10"}));
  // A whole note at t20: 192 ticks of 1378 units (11.999 s) after the first, then a second of tail.
  const std::string ending = gb::playlistLine(gbSong("#TITLE <End>\n#CHANNEL 1\n#A t20 v15 c1\n", image), "end.gbs");
  EXPECT_EQ(fields(ending), (std::vector<std::string>{"end.gbs::GBS", "1", "End", "0:13.003", "", "0:00"}));
  // A note held for ever (its loop changes nothing): the second after its start is the loop.
  const std::string held = gb::playlistLine(gbSong("#TITLE <Held>\n#CHANNEL 1\n#A v15 $ c1\n", image), "held.gbs");
  EXPECT_EQ(fields(held), (std::vector<std::string>{"held.gbs::GBS", "1", "Held", "0:02.004", "0:01", "0:10"}));
}

// gbsplay reads VGM files: a held a4 on pulse 1 sounds at its register's
// pitch (131072 / 298 Hz, 0.63 cents under the render's 440 Hz), from the
// rising crossings of the mean over the second second.
TEST(GbVgm, gbsplayPlaysAHeldA4WithinACentOfItsRegistersPitch) {
  std::vector<std::uint8_t> image;
  const gb::VgmFile file = gb::makeVgm(gbSong("#TITLE <a>\n#CHANNEL 1\n#A v15 %1 @4 o5 a1^1^1\n", image));
  const std::string dir = makeTempDir();
  writeFile(dir + "/a.vgm", std::string(file.bytes.begin(), file.bytes.end()));
  const ProcessResult run =
      runProcess({"gbsplay", "-q", "-q", "-o", "stdout", "-r", "44100", "-E", "l", "-H",
                  "off",     "-t", "3",  "-f", "0",      "-T", "0",     "-g", "0", dir + "/a.vgm"},
                 dir);
  std::filesystem::remove_all(dir);
  std::vector<std::int16_t> left(run.out.size() / 4);
  for (std::size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], run.out.data() + 4 * i, 2);
  ASSERT_GT(left.size(), 2u * 44100);
  double mean = 0, firstCross = -1, lastCross = 0;
  int crossings = 0;
  for (std::size_t i = 44100; i < 2 * 44100; ++i) mean += left[i] / 44100.0;
  for (std::size_t i = 44100; i < 2 * 44100; ++i)
    if (left[i - 1] < mean && left[i] >= mean) {
      lastCross = static_cast<double>(i - 1) + (mean - left[i - 1]) / (left[i] - left[i - 1]);
      firstCross = firstCross < 0 ? lastCross : firstCross;
      ++crossings;
    }
  const double heard = (crossings - 1) * 44100 / (lastCross - firstCross);
  EXPECT_LT(std::abs(1200 * std::log2(heard * std::lround(131072.0 / 440) / 131072)), 1.0) << heard << " Hz";
}

// The famicom example's VGM file and GBS file in gbsplay, ten seconds: the
// level of each 20 ms window of the one follows the other's (the GBS
// file's writes lie up to 1.5 ms after the VGM file's exact times).
TEST(GbVgm, theVgmFileSoundsAsTheGbsFileInGbsplay) {
  const std::string source = readFile(std::string(QVBP_SOURCE_DIR) + "/examples/famicom.qvm");
  std::vector<std::uint8_t> image;
  const gb::GbSong song = gbSong(source, image);
  const gb::VgmFile vgm = gb::makeVgm(song);
  const gb::GbFile gbs = gb::makeGbs(song);
  ASSERT_TRUE(vgm.ok && gbs.ok);
  const std::string dir = makeTempDir();
  writeFile(dir + "/s.vgm", std::string(vgm.bytes.begin(), vgm.bytes.end()));
  writeFile(dir + "/s.gbs", std::string(gbs.bytes.begin(), gbs.bytes.end()));
  const auto levels = [&dir](const std::vector<std::string>& file) {
    std::vector<std::string> argv = {"gbsplay", "-q", "-q", "-o", "stdout", "-r", "44100", "-E", "l", "-H", "off",
                                     "-t", "10", "-f", "0", "-T", "0", "-g", "0"};
    argv.insert(argv.end(), file.begin(), file.end());
    const ProcessResult run = runProcess(argv, dir);
    std::vector<double> out;
    constexpr std::size_t kWindow = 882;  // 20 ms of stereo frames
    for (std::size_t at = 0; (at + kWindow) * 4 <= run.out.size(); at += kWindow) {
      double sum = 0, mean = 0;
      std::vector<std::int16_t> left(kWindow);
      for (std::size_t i = 0; i < kWindow; ++i) std::memcpy(&left[i], run.out.data() + 4 * (at + i), 2);
      for (std::int16_t v : left) mean += v / static_cast<double>(kWindow);
      for (std::int16_t v : left) sum += (v - mean) * (v - mean);
      out.push_back(std::sqrt(sum / kWindow));
    }
    return out;
  };
  const std::vector<double> fromVgm = levels({dir + "/s.vgm"});
  const std::vector<double> fromGbs = levels({dir + "/s.gbs", "1", "1"});
  std::filesystem::remove_all(dir);
  const std::size_t n = std::min(fromVgm.size(), fromGbs.size());
  ASSERT_GT(n, 400u);
  // The channels' waves meet at other phases when writes lie a millisecond
  // apart, so a window's level may differ by some percent; rests and notes
  // fall in the same windows.
  std::size_t alike = 0;
  for (std::size_t i = 0; i < n; ++i)
    alike += std::abs(fromVgm[i] - fromGbs[i]) <= 0.15 * std::max(fromVgm[i], fromGbs[i]) + 50 ? 1 : 0;
  EXPECT_GT(static_cast<double>(alike) / n, 0.95) << alike << " of " << n;
  EXPECT_GT(*std::max_element(fromVgm.begin(), fromVgm.end()), 2000);
}

// Loops of 192 and 193 ticks of 1378 units meet after 192 * 193 * 1378 units
// (38.6 minutes), more than a loop may take.
TEST(GbVgm, qvbgbCutsLoopsThatMeetTooLateAtTenMinutesAndKeepsAnOlderFileWhenItRefuses) {
  const std::string dir = makeTempDir();
  writeFile(dir + "/far.qvm", "#TITLE <far>\n#CHANNEL 2\n#A t20 v15 %1 o4 $ c2 d2\n#B v15 o3 $ c2 d2 e192\n");
  const ProcessResult far = runProcess({program(QVBGB_EXE), "--vgm", "far.qvm"}, dir);
  EXPECT_EQ(far.exitStatus, 0) << far.err;
  EXPECT_NE(far.err.find("far.qvm: warning: "), std::string::npos) << far.err;
  EXPECT_NE(far.err.find("the first 10 minutes, without a loop"), std::string::npos) << far.err;
  const std::string bytes = readFile(dir + "/far.vgm");
  const Vgm vgm = readVgm({bytes.begin(), bytes.end()});
  EXPECT_EQ(vgm.waited, 10 * 60 * 44100);
  EXPECT_EQ(vgm.loopAt, -1);
  EXPECT_EQ(runProcess({program(QVBGB_EXE), "--gbs", "far.qvm"}, dir).exitStatus, 0);
  EXPECT_EQ(readFile(dir + "/far.m3u"), "far.gbs::GBS,1,far,10:00,,0:10\n");

  writeFile(dir + "/far.qvm", "#TITLE <five>\n#CHANNEL 5\n#A c\n#B c\n#C c\n#D c\n#E c\n");
  const ProcessResult five = runProcess({program(QVBGB_EXE), "--vgm", "far.qvm"}, dir);
  EXPECT_EQ(five.exitStatus, 1);
  EXPECT_NE(five.err.find("the Game Boy has four sound channels"), std::string::npos) << five.err;
  EXPECT_EQ(readFile(dir + "/far.vgm"), bytes);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qvb::test
