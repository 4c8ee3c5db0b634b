// Every host that pulls sound gives the samples the sound card plays: the
// renderer, the page's live player (pulled as its audio worklet pulls, 128
// frames at a time) and a stream pulled in odd lengths are compared frame for
// frame with what the wave output hands a device through the real fill, on
// generated songs that use every voice type, every pulse timbre, long notes,
// tempo changes, changing wave slots, vibrato and sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "compiler/mml_compiler.h"
#include "render/render_session.h"
#include "song/qvb_player.h"
#include "sound/pull_stream.h"
#include "sound/wave_out.h"
#include "tests/support/fake_audio_platform.h"
#include "tests/support/rendered_sound.h"

struct WebPlayer;
extern "C" WebPlayer* qvbw_player_new(const std::uint8_t* image, int size);
extern "C" void qvbw_player_free(WebPlayer* web);
extern "C" const std::int16_t* qvbw_player_fill(WebPlayer* web, int frames);

namespace qvb {
namespace {

using test::renderedSound;

constexpr std::int64_t kRate = 44100;
constexpr std::int64_t kBufferFrames = kWaveBufferBytes / 4;
#ifdef QVBP_SANITIZED
constexpr int kSongs = 48;  // the sanitizers make each song some twenty times slower
#else
constexpr int kSongs = 208;
#endif
constexpr int kShards = 8;

// A song source drawn from the seed: one to four channels, each a voice type
// with its timbre, levels, release and sweep, vibrato, detune, notes of every
// length (ties past a whole note among them), rests, gates, octave steps,
// loops, a loop mark, and changes of tempo, wave slot and voice type on the way.
std::string generatedSong(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto chance = [&](int percent) { return pick(1, 100) <= percent; };
  const int channels = pick(1, 4);
  std::string s = "#TITLE <g" + std::to_string(seed) + ">\n#CHANNEL " + std::to_string(channels) + "\n";
  const int waves = pick(1, 3);
  for (int w = 0; w < waves; ++w) {
    const int ramp = pick(2, 30);
    s += "#WAV " + std::to_string(w * 7) + ",<(" + std::to_string(pick(-128, 0)) + "," +
         std::to_string(pick(0, 127)) + ")," + std::to_string(ramp) + ",[" + std::to_string(32 - ramp) +
         " " + std::to_string(pick(-128, 127)) + ",]>\n";
  }
  // Pulse timbres: the ones whose sound depends on where calls begin, and
  // every other value over the seeds.
  const int special[] = {0, 1, 7, 8, 200};
  auto timbre = [&](int k) { return k % 3 == 0 ? special[pick(0, 4)] : static_cast<int>((seed * 37 + k) % 256); };
  static const char* kNotes[] = {"c", "d+", "e", "f", "g-", "a", "b", "c#"};
  static const char* kLengths[] = {"", "1", "2", "4", "8", "16", "32", "3", "6", "12", "4.", "1^1", "2^8"};
  for (int c = 0; c < channels; ++c) {
    s += "#";
    s += static_cast<char>('A' + c);
    s += " ";
    if (c == 0 && chance(60)) s += "t" + std::to_string(pick(40, 400)) + " ";
    if (chance(50)) s += "$";
    const int sections = pick(2, 5);
    for (int k = 0; k < sections; ++k) {
      const int type = (static_cast<int>(seed) + c + k) % 5;
      s += "%" + std::to_string(type + (chance(20) ? 128 : 0));
      if (type == 1) s += " @" + std::to_string(timbre(k + c));
      if (type == 4) s += " @" + std::to_string(pick(0, waves) * 7);  // sometimes an empty slot
      s += " o" + std::to_string(pick(2, 6));
      s += " v" + (chance(25) ? std::to_string(pick(0, 15)) + "," + std::to_string(pick(0, 15))
                              : std::to_string(pick(4, 15)));
      if (chance(40)) s += " s" + std::to_string(pick(0, 40)) + "," + std::to_string(pick(-20, 20));
      if (chance(40)) {
        s += " mp" + std::to_string(pick(1, 40)) + "," + std::to_string(pick(1, 30)) + "," +
             std::to_string(pick(1, 6)) + "," + std::to_string(pick(-5, 5)) + "," + std::to_string(pick(0, 4));
      }
      if (chance(30)) s += " k" + std::to_string(pick(-20, 20));
      if (chance(30)) s += " q" + std::to_string(pick(4, 16));
      if (c == 0 && chance(30)) s += " t" + std::to_string(pick(40, 400));
      s += chance(30) ? " /:" + std::to_string(pick(2, 3)) + " " : " ";
      const int notes = pick(3, 12);
      for (int n = 0; n < notes; ++n) {
        const char* step = chance(10) ? (chance(50) ? "<" : ">") : "";
        s += step;
        s += chance(12) ? "r" : kNotes[pick(0, 7)];
        s += kLengths[pick(0, 12)];
        if (*step != 0) s += *step == '<' ? ">" : "<";  // back to the section's octave
        if (type == 4 && chance(15)) s += " @" + std::to_string(pick(0, waves - 1) * 7) + " ";
      }
      if (s.find("/:", s.rfind('%')) != std::string::npos) s += " :/";
      s += "\n";
    }
  }
  return s;
}

std::vector<std::uint8_t> compiled(const std::string& source) {
  MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()),
                       static_cast<std::int32_t>(source.size()));
  if (compiler.status() != 0) return {};
  return compiler.takeImage();
}

// What the sound card plays after its eight silent pre-filled buffers: the
// wave output's own fills on a fake device.
std::vector<std::int16_t> deviceSound(const std::vector<std::uint8_t>& image, std::int64_t frames) {
  test::FakeAudioPlatform device;
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.play(device), 1);
  device.finishNext(static_cast<int>((frames + kBufferFrames - 1) / kBufferFrames));
  const std::vector<std::uint8_t> bytes = device.writtenStream();
  const std::size_t skip = std::size_t{kWaveBufferCount} * kWaveBufferBytes;
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                          [](std::uint8_t b) { return b == 0; }));
  std::vector<std::int16_t> sound(static_cast<std::size_t>(2 * frames));
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(skip), sound.size() * 2,
              reinterpret_cast<std::uint8_t*>(sound.data()));
  return sound;
}

std::vector<std::int16_t> webPlayerSound(const std::vector<std::uint8_t>& image, std::int64_t frames) {
  WebPlayer* web = qvbw_player_new(image.data(), static_cast<int>(image.size()));
  EXPECT_NE(web, nullptr);
  std::vector<std::int16_t> sound;
  for (std::int64_t made = 0; web != nullptr && made < frames; made += 128) {
    const std::int16_t* part = qvbw_player_fill(web, 128);
    sound.insert(sound.end(), part, part + 2 * std::min<std::int64_t>(128, frames - made));
  }
  qvbw_player_free(web);
  return sound;
}

// Pulls of lengths that meet the device's buffers anywhere: none, one frame,
// one short of a buffer, one past it, and one past two rings' worth.
std::vector<std::int16_t> oddPullSound(const std::vector<std::uint8_t>& image, std::int64_t frames) {
  static constexpr std::int64_t kPulls[] = {0, 1, 2047, 2049, 16385, 5};
  QvbPlayer player(image.data(), image.size());
  EXPECT_EQ(player.start(), 1);
  PullStream stream(*player.mixer());
  std::vector<std::int16_t> sound(static_cast<std::size_t>(2 * frames));
  for (std::int64_t made = 0, k = 0; made < frames; ++k) {
    const std::int64_t n = std::min(kPulls[k % 6], frames - made);
    stream.pullFrames(sound.data() + 2 * made, n);
    made += n;
  }
  return sound;
}

// The first frame where two sounds differ, or -1.
std::int64_t firstDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  if (a.size() != b.size()) return -2;
  const auto at = std::mismatch(a.begin(), a.end(), b.begin()).first;
  return at == a.end() ? -1 : (at - a.begin()) / 2;
}

class HostsMatchDevice : public testing::TestWithParam<int> {};

TEST_P(HostsMatchDevice, onGeneratedSongsFrameForFrame) {
  for (int i = GetParam(); i < kSongs; i += kShards) {
    const auto seed = static_cast<std::uint32_t>(i);
    const std::string source = generatedSong(seed);
    const auto image = compiled(source);
    ASSERT_FALSE(image.empty()) << source;
    // A few songs run a minute; the rest ten seconds.
    const std::int64_t frames = (i % 50 == 7 ? 60 : 10) * kRate;
    const auto device = deviceSound(image, frames);
    EXPECT_EQ(firstDifference(renderedSound(image, frames), device), -1) << "renderer\n" << source;
    EXPECT_EQ(firstDifference(webPlayerSound(image, frames), device), -1) << "page\n" << source;
    EXPECT_EQ(firstDifference(oddPullSound(image, frames), device), -1) << "odd pulls\n" << source;
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, HostsMatchDevice, testing::Range(0, kShards));

TEST(HostPulls, cutAPulseOfTimbreZeroWhereTheDeviceCutsIt) {
  const std::string source = "#TITLE <p>\n#CHANNEL 1\n#A %1 @0 v15 o4 l1 c c c\n";
  const auto image = compiled(source);
  ASSERT_FALSE(image.empty());
  const std::int64_t frames = 10 * kRate;
  EXPECT_EQ(firstDifference(renderedSound(image, frames), deviceSound(image, frames)), -1);
}

}  // namespace
}  // namespace qvb
