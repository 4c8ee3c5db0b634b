// Compile throughput in memory: the generated source compiled from bytes to
// image, without and with the source map. Reports bytes per second; the 1 MB and 8 MB runs together show
// whether the time grows linearly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/generated_source.h"
#include "compiler/mml_compiler.h"

namespace {

void BM_Compile(benchmark::State& state) {
  const std::string source = qvb::bench::generatedSource(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    qvb::MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()),
                              static_cast<std::int32_t>(source.size()));
    if (compiler.status() != 0) {
      state.SkipWithError("the generated source did not compile");
      break;
    }
    benchmark::DoNotOptimize(compiler.imageSize());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(source.size()));
}
BENCHMARK(BM_Compile)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

// The same compile with the source map, as our tools, the page and the
// language server load a song.
void BM_CompileWithMap(benchmark::State& state) {
  const std::string source = qvb::bench::generatedSource(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    qvb::SourceMap map;
    qvb::MmlCompiler compiler(reinterpret_cast<const std::uint8_t*>(source.data()),
                              static_cast<std::int32_t>(source.size()), map);
    if (compiler.status() != 0) {
      state.SkipWithError("the generated source did not compile");
      break;
    }
    benchmark::DoNotOptimize(map.channelCount());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(source.size()));
}
BENCHMARK(BM_CompileWithMap)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
