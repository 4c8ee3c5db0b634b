// The whole offline render as qvbrender runs it: ten minutes of the demo
// song through renderSong, into a sink that keeps nothing and into a WAV file.
// The counter x_real_time is seconds of sound rendered per second of CPU.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/demo_song.h"
#include "render/render_session.h"
#include "render/sound_file.h"

namespace {

constexpr std::int64_t kSeconds = 600;

void render(benchmark::State& state, const qvb::SampleSink& sink) {
  const std::vector<std::uint8_t> image = qvb::bench::demoImage();
  qvb::RenderOptions options;
  options.lengthFrames = kSeconds * qvb::kRenderRate;
  for (auto _ : state) {
    qvb::RenderResult result;
    if (image.empty() || !qvb::renderSong(image.data(), image.size(), options, sink, result)) {
      state.SkipWithError("the demo song did not render");
      return;
    }
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(kSeconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderDemoDiscarded(benchmark::State& state) {
  render(state, [](const std::int16_t* samples, std::int64_t) {
    benchmark::DoNotOptimize(samples);
    return true;
  });
}

void BM_RenderDemoToWav(benchmark::State& state) {
  const char* path = "qvbp_bench_render.wav";
  const std::vector<std::uint8_t> image = qvb::bench::demoImage();
  for (auto _ : state) {
    state.PauseTiming();
    qvb::SoundFile file(path);
    state.ResumeTiming();
    qvb::RenderOptions options;
    options.lengthFrames = kSeconds * qvb::kRenderRate;
    qvb::RenderResult result;
    const bool ok = file.ok() && qvb::renderSong(image.data(), image.size(), options,
                                                 [&](const std::int16_t* s, std::int64_t n) { return file.write(s, n); },
                                                 result) && file.close();
    if (!ok) {
      state.SkipWithError("the WAV file could not be written");
      break;
    }
  }
  std::remove(path);
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(kSeconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_RenderDemoDiscarded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderDemoToWav)->Unit(benchmark::kMillisecond);

}  // namespace
