// The Game Boy driver's cost: the CPU cycles it takes per video frame (70224
// cycles), on average and at the worst, playing the examples that fit in the
// ROM qvbgb writes, run in the gambatte core. The ROM's idle loop counts 24
// cycles a count; what the frame did not count went to the timer interrupt
// and the driver. Also reported: the song data and the driver's ROM and RAM.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "host/file_bytes.h"
#include "gameboy/driver_image.h"
#include "gameboy/gb_files.h"
#include "loader/song_loader.h"
#include "tests/support/gambatte_core.h"

namespace {

// The cycles of each of `count` frames that the idle loop did not get. The
// loop counts 24 cycles a count and 40 more when its low byte carries. The
// core stops between frames, sometimes between that carry and the next
// byte's increment: a count whose low byte is 0 is read again a frame later
// (the two frames share the figure).
std::vector<int> busyCycles(qvb::test::GambatteCore& core, int count) {
  const auto counted = [&core] {
    const std::uint16_t at = qvb::gb::kIdleCounter;
    return core.ram(at) | core.ram(static_cast<std::uint16_t>(at + 1)) << 8 |
           core.ram(static_cast<std::uint16_t>(at + 2)) << 16;
  };
  std::vector<int> frames;
  int previous = counted(), span = 0;
  while (static_cast<int>(frames.size()) < count) {
    core.runFrame();
    ++span;
    const int now = counted();
    if ((now & 0xFF) == 0) continue;
    const int counts = (now - previous) & 0xFFFFFF;
    const int idle = 24 * counts + 40 * (((now >> 8) - (previous >> 8)) & 0xFFFF);
    const int busy = (span * qvb::test::kCyclesPerFrame - idle) / span;
    frames.insert(frames.end(), static_cast<std::size_t>(span), busy);
    previous = now;
    span = 0;
  }
  frames.resize(static_cast<std::size_t>(count));
  return frames;
}

// Songs that keep the driver as busy as music does: four channels, vibrato
// on every effect frame, a note on every tick (at t150, 9 ms), the wave
// channel switching waves and a noise channel; and the same at t240.
std::string denseSong(int tempo) {
  const std::string t = std::to_string(tempo);
  return "#TITLE <dense>\n#WAV 1,<(-100,100),20,[12 -40,]>\n#WAV 2,<[16 90,][16 -90,]>\n#CHANNEL 4\n"
         "#A t" + t + " v15 %1 @2 mp1,6,1,1,0 o5 $ /:8 l192 c e g > c < b g e d :/ r64 /:4 l192 a b > c d < :/\n"
         "#B v12 %1 @6 mp1,5,1,-1,0 o4 $ /:8 l192 e g b > e < d b g f :/ r64 /:4 l192 c d e f :/\n"
         "#C v15 %4 mp1,4,1,1,0 o4 $ /:4 @1 l96 c e @2 g > c < :/ %3 l48 g e c r\n"
         "#D v13 %2 o3 $ /:16 l96 c r c c :/\n";
}

void runCost(benchmark::State& state, const std::vector<std::uint8_t>& image) {
  const qvb::gb::GbSong gbSong = qvb::gb::buildGbSong(image);
  const qvb::gb::GbFile rom = qvb::gb::makeRom(gbSong);
  if (!rom.ok) {
    state.SkipWithError(rom.refusal.c_str());
    return;
  }
  constexpr int kFrames = 60 * 60;  // a minute
  double average = 0, median = 0;
  int worst = 0;
  for (auto _ : state) {
    qvb::test::GambatteCore core(rom.bytes);
    if (!core.ok()) {
      state.SkipWithError("the gambatte core did not take the ROM");
      return;
    }
    for (int f = 0; f < 2; ++f) core.runFrame();  // past the start-up
    std::vector<int> frames = busyCycles(core, kFrames);
    average = std::accumulate(frames.begin(), frames.end(), 0.0) / static_cast<double>(frames.size());
    std::sort(frames.begin(), frames.end());
    median = frames[frames.size() / 2];
    worst = frames.back();
  }
  state.counters["cycles_avg"] = average;
  state.counters["cycles_median"] = median;
  state.counters["cycles_worst"] = worst;
  state.counters["frame_%_avg"] = 100.0 * average / qvb::test::kCyclesPerFrame;
  state.counters["frame_%_worst"] = 100.0 * worst / qvb::test::kCyclesPerFrame;
  std::size_t bytes = 0;
  bytes += gbSong.stream.bytes();
  state.counters["song_bytes"] = static_cast<double>(bytes);
  // The song's music: its intro and one pass of its loop, or all of it.
  const qvb::gb::GbSongLoop loop = qvb::gb::songLoop(gbSong);
  const double minutes = static_cast<double>(loop.endUnit) / qvb::gb::kUnitsPerSecond / 60;
  if (minutes > 0) state.counters["bytes_per_minute"] = static_cast<double>(bytes) / minutes;
  state.counters["driver_rom_bytes"] = static_cast<double>(qvb::gb::kDriverCodeSize);
  state.counters["ram_bytes"] = qvb::gb::kDriverRamSize;
}

void BM_GameBoyDriverCycles(benchmark::State& state, const char* example) {
  std::vector<std::uint8_t> bytes;
  qvb::InputFile file(std::string(QVBP_SOURCE_DIR) + "/examples/" + example);
  file.readAll(bytes);
  runCost(state, qvb::loadSong(bytes).image);
}

void BM_GameBoyDriverCyclesDense(benchmark::State& state, int tempo) {
  const std::string source = denseSong(tempo);
  runCost(state, qvb::loadSong(std::span(reinterpret_cast<const std::uint8_t*>(source.data()), source.size())).image);
}

BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, famicom, "famicom.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, fanfare, "fanfare.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, loops, "loops.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, repeats, "repeats.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, sweep, "sweep.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, tempo, "tempo.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, vibrato, "vibrato.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCyclesDense, dense_t150, 150)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCyclesDense, dense_t240, 240)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
