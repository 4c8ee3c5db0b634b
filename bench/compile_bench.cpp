// Compile throughput: a generated source of many channels, loops, repeat
// brackets and comments, compiled in memory. Reports bytes per second; the
// 1 MB and 8 MB runs together show whether the time grows linearly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "compiler/mml_compiler.h"

namespace {

std::string generatedSource(std::size_t targetBytes) {
  static const char* const kPhrases[] = {
      "o4 l8 cdefgab>c< {a comment in the melody} ",
      "/:3 c16d16e8 / f4 :/ r8 ",
      "[2 v12 q12 g4. a8 | b2 ] ",
      "t140 s10,-2 k-1 mp30,2,1,1,0 @2 ",
      "o3 c4^8 e8 g4 >c4< r4 \t",
      "l16 [3 cegc ]{ repeat\n spread } d+e-f#g ",
  };
  std::string s = "{ benchmark song }\n#TITLE <Throughput>\n#CHANNEL 26\n";
  std::string body;
  std::size_t phrase = 0;
  int channel = 0;
  while (s.size() < targetBytes) {
    s += "#";
    s += static_cast<char>('A' + channel);
    s += " ";
    for (int line = 0; line < 4; ++line) {
      for (int k = 0; k < 3; ++k) s += kPhrases[phrase++ % std::size(kPhrases)];
      s += "\n";
    }
    channel = (channel + 1) % 26;
  }
  return s;
}

void BM_Compile(benchmark::State& state) {
  const std::string source = generatedSource(static_cast<std::size_t>(state.range(0)));
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

}  // namespace
