// Real-time playback cost: the share of one core that playing the demo song
// takes. The song is compiled and started on an output that never plays by
// itself; the benchmark then runs the Mixer's fills as the device thread
// would, for a minute of audio per iteration.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "bench/demo_song.h"
#include "song/qvb_player.h"
#include "sound/mixer.h"
#include "sound/wave_out.h"

namespace {

// One 16-bit stereo 44100 Hz device that accepts every buffer and never
// finishes one, so every fill after the start-up comes from the loop below.
class Idle final : public qvb::AudioPlatform {
 public:
  int deviceCount() override { return 1; }
  int deviceFormats(int, std::uint32_t& formats) override {
    formats = qvb::kFormat4S16;
    return 0;
  }
  bool open(int, const qvb::AudioFormat&, qvb::BufferDone, void*) override { return true; }
  void pause() override {}
  bool prepare(qvb::AudioBuffer&) override { return true; }
  bool write(qvb::AudioBuffer&) override { return true; }
  void restart() override {}
  void reset() override {}
  void unprepare(qvb::AudioBuffer&) override {}
  void close() override {}
};

void BM_DemoPlayback(benchmark::State& state) {
  const std::vector<std::uint8_t> image = qvb::bench::demoImage();
  Idle output;
  qvb::QvbPlayer player(image.data(), image.size());
  if (image.empty() || player.play(output) != 1 || player.mixer() == nullptr) {
    state.SkipWithError("the demo song did not start");
    return;
  }
  const qvb::AudioFormat format{2, 2, 44100};
  constexpr int kFramesPerFill = qvb::kWaveBufferBytes / 4;
  constexpr int kFills = 60 * 44100 / kFramesPerFill;
  std::vector<std::uint8_t> buffer(qvb::kWaveBufferBytes);
  const std::clock_t start = std::clock();
  for (auto _ : state) {
    for (int i = 0; i < kFills; ++i) {
      std::fill(buffer.begin(), buffer.end(), 0);
      qvb::Mixer::Fill(&format, player.mixer(), buffer.data(), qvb::kWaveBufferBytes);
      benchmark::DoNotOptimize(buffer.data());
      benchmark::ClobberMemory();
    }
  }
  const double audioSeconds =
      static_cast<double>(state.iterations()) * kFills * kFramesPerFill / 44100.0;
  // CPU time per audio time, in percent: the share of one core that playing takes.
  const double cpuSeconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  state.counters["core_percent"] = 100.0 * cpuSeconds / audioSeconds;
}

BENCHMARK(BM_DemoPlayback)->Unit(benchmark::kMillisecond);

}  // namespace
