// What the driver sounds like, heard in two emulators: the pitch of a held
// note on each channel kind (gbsplay playing the GBS file with the other
// channels muted, and the ROM in the gambatte core) lies within 1 cent of
// what its frequency register gives, which lies within the table error of
// our Hz; in the ROM, notes start where the sequencer starts them and the
// rests between them are silent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gameboy/gb_stream_format.h"
#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "loader/song_loader.h"
#include "tests/gameboy/gb_harness.h"
#include "tests/support/gambatte_core.h"
#include "tests/support/run_process.h"

namespace qvb::test {
namespace {

gb::GbSong gbSong(const std::string& source, std::vector<std::uint8_t>* image = nullptr) {
  const LoadedSong song = loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size()));
  EXPECT_TRUE(song.ok()) << source;
  if (image != nullptr) *image = song.image;
  return gb::buildGbSong(viewImage(song.image));
}

// The mean frequency of one channel of interleaved stereo between two
// sample indexes, from its rising crossings of the mean level.
double measuredHz(const std::vector<std::int16_t>& stereo, double rate, std::size_t from, std::size_t to) {
  double mean = 0;
  for (std::size_t i = from; i < to; ++i) mean += stereo[2 * i];
  mean /= static_cast<double>(to - from);
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = from + 1; i < to; ++i) {
    const double a = stereo[2 * (i - 1)] - mean, b = stereo[2 * i] - mean;
    if (a < 0 && b >= 0) {
      const double at = static_cast<double>(i - 1) + a / (a - b);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0;
}

double cents(double a, double b) { return 1200 * std::log2(a / b); }

struct HeldNote {
  const char* name;
  const char* source;
  gb::HwChannel channel;
  unsigned hz;  // our table's frequency of the note
  const char* mute;  // gbsplay's options that leave the channel alone, "-1 -2"
};

const HeldNote kHeldNotes[] = {
    {"pulse 1, note 69", "#TITLE <p>\n#CHANNEL 2\n#A v15 %1 @4 o5 a1^1^1^1\n#B v15 %0 o3 c1^1^1^1\n",
     gb::HwChannel::Pulse1, 440, "-2"},
    {"pulse 2, note 64", "#TITLE <p>\n#CHANNEL 2\n#A v15 %0 o3 c1^1^1^1\n#B v15 %1 @4 o5 e1^1^1^1\n",
     gb::HwChannel::Pulse2, 329, "-1"},
    {"wave, note 57", "#TITLE <w>\n#CHANNEL 2\n#A v15 %3 o4 a1^1^1^1\n#B v15 %0 o3 c1^1^1^1\n",
     gb::HwChannel::Wave, 220, "-1 -2"},
};

double registerHz(gb::HwChannel channel, unsigned hz) {
  const double k = channel == gb::HwChannel::Wave ? 65536 : 131072;
  return k / (2048 - gb::frequencyRegister(channel, hz));
}

TEST(GbPitch, aHeldNoteInGbsplayLiesWithinACentOfItsRegister) {
  const std::string dir = makeTempDir();
  for (const HeldNote& note : kHeldNotes) {
    const gb::GbFile gbs = gb::makeGbs(gbSong(note.source));
    const std::string path = dir + "/held.gbs";
    writeFile(path, std::string(gbs.bytes.begin(), gbs.bytes.end()));
    std::vector<std::string> argv = {"gbsplay", "-q", "-q", "-o", "stdout", "-r", "44100", "-E", "l", "-H", "off",
                                     "-t", "3", "-f", "0", "-T", "0", "-g", "0"};
    for (const char* option = note.mute; *option != 0; option += option[2] == ' ' ? 3 : 2)
      argv.emplace_back(option, 2);
    argv.insert(argv.end(), {path, "1", "1"});
    const ProcessResult run = runProcess(argv, dir);
    std::vector<std::int16_t> samples(run.out.size() / 2);
    std::memcpy(samples.data(), run.out.data(), samples.size() * 2);
    ASSERT_GT(samples.size(), 2u * 44100 * 2) << note.name;
    const double heard = measuredHz(samples, 44100, 22050, 2 * 44100);
    const double wanted = registerHz(note.channel, note.hz);
    EXPECT_LT(std::abs(cents(heard, wanted)), 1.0) << note.name << ": " << heard << " Hz";
    std::printf("%s: gbsplay %.3f Hz, register %.3f Hz, table %u Hz (%.2f cents)\n", note.name, heard, wanted,
                note.hz, cents(wanted, note.hz));
  }
  std::filesystem::remove_all(dir);
}

TEST(GbPitch, everyNoteTheRegisterReachesLiesWithinHalfARegisterStepOfOurHz) {
  // The table error: the register's pitch is the nearest the channel has.
  for (gb::HwChannel channel : {gb::HwChannel::Pulse1, gb::HwChannel::Wave}) {
    const double k = channel == gb::HwChannel::Wave ? 65536 : 131072;
    for (unsigned hz = static_cast<unsigned>(k / 2048) + 1; hz < 4000; ++hz) {
      const int x = gb::frequencyRegister(channel, hz);
      const double error = std::abs(k / (2048 - x) - hz);
      const double step = x < 2047 ? k / (2047 - x) - k / (2048 - x) : 0;
      ASSERT_LE(error, step / 2 + 1e-9) << hz << " Hz";
    }
  }
}

// The ROM in the gambatte core: a held pulse note's pitch, and notes between
// silent rests starting where the sequencer starts them (measured from the
// first, since the ROM's start-up comes before the song's clock).
TEST(GbRom, playsNotesAndSilentRestsOnTimeInTheGambatteCore) {
  std::vector<std::uint8_t> image;
  const std::string source = "#TITLE <r>\n#CHANNEL 1\n#A t150 v15 %1 @4 o5 /:6 a8 r8 e16 r16 c16 r8. :/ a1^1^1\n";
  const gb::GbFile rom = gb::makeRom(gbSong(source, &image));
  ASSERT_TRUE(rom.ok) << rom.refusal;
  GambatteCore core(rom.bytes);
  ASSERT_TRUE(core.ok()) << "the gambatte core at " << kGambattePath << " did not take the ROM";
  for (int frame = 0; frame < 60 * 10; ++frame) core.runFrame();  // the song and the start-up
  const auto& audio = core.audio();
  const double rate = core.sampleRate();

  // Onsets: a tone swings between loud levels of both signs again and
  // again; the steps of DACs turned on and off at start-up do not. A swing
  // 3 ms or more after the last one, followed by another within 3 ms, starts
  // a note, at the earliest edge of the 3 ms before it.
  std::vector<double> onsets;
  const auto gap = static_cast<std::size_t>(rate * 0.003);
  const auto level = [&audio](std::size_t i) { return static_cast<int>(audio[2 * i]); };
  int lastSign = 0;
  std::size_t lastSwing = 0;
  bool swung = false;
  double pending = -1;
  for (std::size_t i = 1; i < audio.size() / 2; ++i) {
    const int sign = level(i) > 1000 ? 1 : level(i) < -1000 ? -1 : 0;
    if (sign == 0) continue;
    if (lastSign != 0 && sign != lastSign) {
      if (!swung || i - lastSwing > gap) {
        std::size_t edge = i;
        for (std::size_t j = i; j + gap > i && j > 1; --j)
          if (std::abs(level(j) - level(j - 1)) > 1000) edge = j;
        pending = static_cast<double>(edge) / rate;
      } else if (pending >= 0) {
        onsets.push_back(pending);
        pending = -1;
      }
      lastSwing = i;
      swung = true;
    }
    lastSign = sign;
  }
  std::vector<double> starts, rests;
  for (const HeardEvent& event : sequencerEvents(image, 9)) {
    if (event.kind == SequencerEventKind::NoteOn) starts.push_back(event.seconds);
    if (event.kind == SequencerEventKind::Rest) rests.push_back(event.seconds);
  }
  ASSERT_EQ(onsets.size(), starts.size());
  for (double rest : rests) {
    // 20 ms into each rest (the shortest is 100 ms) the level has settled near 0.
    const auto at = static_cast<std::size_t>((rest - starts[0] + onsets[0] + 0.02) * rate);
    EXPECT_LT(std::abs(audio[2 * at]), 100) << "rest at " << rest << " s";
  }
  double worst = 0;
  for (std::size_t i = 1; i < starts.size(); ++i) {
    const double error = (onsets[i] - onsets[0]) - (starts[i] - starts[0]);
    worst = std::max(worst, std::abs(error));
    EXPECT_LT(std::abs(error), 1.0 / gb::kSlotsPerSecond + 0.001) << "note " << i;
  }
  const double heard = measuredHz(audio, rate, static_cast<std::size_t>((onsets.back() + 0.2) * rate),
                                  static_cast<std::size_t>((onsets.back() + 1.2) * rate));
  EXPECT_LT(std::abs(cents(heard, registerHz(gb::HwChannel::Pulse1, 440))), 1.0) << heard << " Hz";
  std::printf("ROM in gambatte: %zu notes, start error at most %.3f ms; held note %.3f Hz\n", starts.size(),
              worst * 1000, heard);
}

}  // namespace
}  // namespace qvb::test
