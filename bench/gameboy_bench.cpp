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

void BM_GameBoyDriverCycles(benchmark::State& state, const char* example) {
  std::vector<std::uint8_t> bytes;
  qvb::InputFile file(std::string(QVBP_SOURCE_DIR) + "/examples/" + example);
  file.readAll(bytes);
  const qvb::LoadedSong song = qvb::loadSong(bytes);
  const qvb::gb::GbSong gbSong = qvb::gb::buildGbSong(song.image);
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
  state.counters["frame_%_median"] = 100.0 * median / qvb::test::kCyclesPerFrame;
  state.counters["frame_%_worst"] = 100.0 * worst / qvb::test::kCyclesPerFrame;
  state.counters["song_bytes"] = static_cast<double>(gbSong.data.size());
  state.counters["driver_rom_bytes"] = static_cast<double>(qvb::gb::kDriverRomSize - qvb::gb::kGbsLoadAddress);
  state.counters["ram_bytes"] = qvb::gb::kDriverRamSize - 3;  // less the shell's idle counter
}
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, famicom, "famicom.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, fanfare, "fanfare.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, loops, "loops.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, repeats, "repeats.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, sweep, "sweep.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, tempo, "tempo.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GameBoyDriverCycles, vibrato, "vibrato.qvm")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
