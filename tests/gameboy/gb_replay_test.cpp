// The replay driver in gbsplay, fed hand-made streams (built here from the
// layout in gb_stream_format.h, not by the exporter): frames at their slot
// times over a minute (a loop with a remainder, gaps of 1 to 32767 slots)
// and the VBlank clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gameboy/driver_image.h"
#include "gameboy/gb_stream_format.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_files.h"

namespace qvb::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kClock = 4194304;
constexpr long kVideoFrame = 70224;

void put16(Bytes& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// A frame: the registers NRx0..NRx4 it writes (by index), its pan, its wave.
struct Frame {
  std::map<int, int> regs;
  int pan = -1;
  Bytes wave;
};

// One channel's frames and the gaps after them: gaps[i] from frame i to
// frame i + 1 (the last, when looping, back to the first).
struct Channel {
  int hw = 0;
  int first = 1;  // slots from init to the first frame
  std::vector<Frame> frames;
  std::vector<int> gaps;
  bool loops = false;
  int remainder = 0;
};

Bytes frameBytes(const Frame& f) {
  Bytes out(1, 0);
  if (!f.wave.empty()) {
    out[0] |= gb::kFrameWave;
    out.insert(out.end(), f.wave.begin(), f.wave.end());
  }
  for (const auto& [n, v] : f.regs) {
    out[0] |= static_cast<std::uint8_t>(gb::kFrameReg0 << n);
    out.push_back(static_cast<std::uint8_t>(v));
  }
  if (f.pan >= 0) {
    out[0] |= gb::kFramePan;
    out.push_back(static_cast<std::uint8_t>(f.pan));
  }
  return out;
}

void putJump(Bytes& out, unsigned address, int bank) {
  out.push_back(gb::kFrameJump);
  put16(out, address);
  out.push_back(static_cast<std::uint8_t>(bank));
}

// The stream of a channel placed at `address`: g1, g2, F1, g3, F2, ... and
// for a loop a jump back to F1 (gaps two frames on, as the layout says).
Bytes streamBytes(const Channel& c, unsigned address) {
  Bytes out;
  const std::size_t n = c.frames.size();
  const auto gapAfter = [&](std::size_t i) -> unsigned {  // from frame i to i + 1
    if (!c.loops) return i + 1 < n ? static_cast<unsigned>(c.gaps[i]) : gb::kGapNever;
    return static_cast<unsigned>(c.gaps[i % n]) | (i % n == n - 1 ? gb::kGapLoops : 0);
  };
  put16(out, static_cast<unsigned>(c.first));
  put16(out, n > 1 || c.loops ? gapAfter(0) : gb::kGapNever);
  const unsigned firstFrame = address + static_cast<unsigned>(out.size());
  for (std::size_t i = 0; i < n; ++i) {
    const Bytes f = frameBytes(c.frames[i]);
    out.insert(out.end(), f.begin(), f.end());
    if (c.loops || i + 1 < n) put16(out, c.loops || i + 2 < n ? gapAfter(i + 1) : gb::kGapNever);
  }
  if (c.loops) putJump(out, firstFrame, 0);
  return out;
}

// Song data for kSongDataAddress: the header, then the streams (not banked).
Bytes songBytes(const std::vector<Channel>& channels) {
  Bytes header{static_cast<std::uint8_t>(channels.size()), 0};
  for (const Channel& c : channels) header[1] |= static_cast<std::uint8_t>(1 << c.hw);
  const unsigned base = gb::kSongDataAddress + gb::kSongHeaderSize + gb::kChannelEntrySize * channels.size();
  Bytes streams;
  for (const Channel& c : channels) {
    const unsigned at = base + static_cast<unsigned>(streams.size());
    header.push_back(static_cast<std::uint8_t>(c.hw));
    header.push_back(0);
    put16(header, at);
    put16(header, static_cast<unsigned>(c.remainder));
    const Bytes s = streamBytes(c, at);
    streams.insert(streams.end(), s.begin(), s.end());
  }
  header.insert(header.end(), streams.begin(), streams.end());
  return header;
}

// A GBS of the driver, the song data and (at `extraAt`) extra code.
Bytes gbsFile(const Bytes& song, bool vblank, std::uint16_t init, std::uint16_t play, const Bytes& tail = {}) {
  Bytes gbs(0x70, 0);
  gbs[0] = 'G', gbs[1] = 'B', gbs[2] = 'S', gbs[3] = 1, gbs[4] = 1, gbs[5] = 1;
  gbs[6] = 0x00, gbs[7] = 0x04;
  gbs[8] = static_cast<std::uint8_t>(init), gbs[9] = static_cast<std::uint8_t>(init >> 8);
  gbs[10] = static_cast<std::uint8_t>(play), gbs[11] = static_cast<std::uint8_t>(play >> 8);
  gbs[12] = 0xFE, gbs[13] = 0xDF;
  gbs[14] = 0xFC;
  gbs[15] = vblank ? 0x00 : gb::kTimerControl;
  for (std::size_t i = gb::kGbsLoadAddress; i < gb::kDriverRomSize; ++i) gbs.push_back(gb::kDriverRom[i]);
  gbs.insert(gbs.end(), song.begin(), song.end());
  gbs.insert(gbs.end(), tail.begin(), tail.end());
  return gbs;
}

struct Write {
  long long cycle;  // from the call of init
  unsigned address, value;
};

std::vector<Write> play(const Bytes& gbs, int seconds) {
  const std::string dir = makeTempDir();
  writeFile(dir + "/t.gbs", std::string(gbs.begin(), gbs.end()));
  const ProcessResult run = runProcess({"gbsplay", "-q", "-q", "-o", "iodumper", "-t", std::to_string(seconds), "-f",
                                        "0", "-T", "0", dir + "/t.gbs", "1", "1"},
                                       ".", std::chrono::seconds(120));
  std::vector<Write> writes;
  std::istringstream lines(run.out);
  bool playing = false;
  long long cycles = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("subsong", 0) == 0) {
      playing = true;
      continue;
    }
    unsigned delta = 0, address = 0, value = 0;
    if (!playing || std::sscanf(line.c_str(), "%x %x=%x", &delta, &address, &value) != 3) continue;
    cycles += delta;
    writes.push_back({cycles, address, value});
  }
  return writes;
}

// The song of the timing checks: pulse 2 loops through gaps of 1, 64, 65,
// 3000, 1 and 7 slots with a remainder of 5000 / 11025 slot a pass; noise
// plays three frames 32767 and 100 slots apart, then ends.
std::vector<Channel> timingSong() {
  Channel pulse{1, 5, {}, {1, 64, 65, 3000, 1, 7}, true, 5000};
  for (int i = 0; i < 6; ++i) pulse.frames.push_back(Frame{{{3, 0x10 + i}, {4, 0x85}}, -1, {}});
  Channel noise{3, 9, {}, {32767, 100}, false, 0};
  for (int i = 0; i < 3; ++i) noise.frames.push_back(Frame{{{2, 0xF0}, {3, 0x20 + i}, {4, 0x80}}, -1, {}});
  return {pulse, noise};
}

// Slot times of a channel's frames up to `slots`, the loop's carry taken in
// closed form: pass p has had floor(p x remainder / divisor) slots added.
std::vector<long long> frameSlots(const Channel& c, long long slots) {
  std::vector<long long> times;
  long long loopLength = 0;
  for (int g : c.gaps) loopLength += g;
  for (long long pass = 0;; ++pass) {
    long long t = c.first + pass * loopLength + pass * c.remainder / gb::kLoopDivisor;
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
      if (t > slots) return times;
      times.push_back(t);
      if (i < c.gaps.size()) t += c.gaps[i];
    }
    if (!c.loops) return times;
  }
}

// The cycles of the writes to `address` (the register each frame of a
// channel writes once).
std::vector<long long> writesTo(const std::vector<Write>& writes, unsigned address) {
  std::vector<long long> at;
  for (const Write& w : writes)
    if (w.address == address) at.push_back(w.cycle);
  return at;
}

constexpr int kMinute = 62;

TEST(GbReplayTest, TimerModeFramesComeAtTheirSlotsOverAMinuteThroughTheLoopAndLongGaps) {
  const std::vector<Channel> song = timingSong();
  const std::vector<Write> writes = play(gbsFile(songBytes(song), false, gb::kGbsInit, gb::kGbsPlay), kMinute);
  const unsigned frameRegister[] = {0xFF18, 0xFF22};
  long long earliest = 1 << 30, latest = -(1 << 30);
  for (int c = 0; c < 2; ++c) {
    const std::vector<long long> expected = frameSlots(song[c], 60 * gb::kSlotsPerSecond);
    const std::vector<long long> seen = writesTo(writes, frameRegister[c]);
    ASSERT_GE(seen.size(), expected.size()) << "channel " << c;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const long long error = seen[i] - expected[i] * 4096;
      earliest = std::min(earliest, error);
      latest = std::max(latest, error);
    }
  }
  // Exact over the minute: the spread is the timer's phase (up to a step)
  // and the driver's own latency, which is about the same each time.
  EXPECT_LT(latest - earliest, 0.0003 * kClock * 2);
  EXPECT_LT(latest, 0.001 * kClock);
}

TEST(GbReplayTest, VblankModeFiresEachFrameAtTheFirstVideoFrameAtOrAfterItsTime) {
  const std::vector<Channel> song = timingSong();
  const std::vector<Write> writes = play(gbsFile(songBytes(song), true, gb::kGbsInitVblank, gb::kGbsPlay), kMinute);
  const unsigned frameRegister[] = {0xFF18, 0xFF22};
  for (int c = 0; c < 2; ++c) {
    const std::vector<long long> expected = frameSlots(song[c], 60 * gb::kSlotsPerSecond);
    const std::vector<long long> seen = writesTo(writes, frameRegister[c]);
    ASSERT_GE(seen.size(), expected.size()) << "channel " << c;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      // Call n (from 1) is n x 70224 cycles after init: the first call at or
      // after slot t is ceil(t x 256 / 4389).
      const long long call = (expected[i] * 256 + gb::kVblankSlots256 - 1) / gb::kVblankSlots256;
      const long long seenCall = seen[i] / kVideoFrame;
      EXPECT_EQ(seenCall, call) << "channel " << c << " frame " << i;
    }
  }
}

}  // namespace
}  // namespace qvb::test
