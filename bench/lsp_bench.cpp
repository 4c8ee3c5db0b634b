// The language server's latency for one edit of a 100 KB song: the change
// message parsed, the song compiled again with its later errors, its
// warnings worked out and the diagnostics written.
#include <benchmark/benchmark.h>

#include <string>

#include <nlohmann/json.hpp>

#include "bench/generated_source.h"
#include "lsp/language_server.h"

namespace {

using Json = nlohmann::json;

std::string message(const std::string& method, Json params, int id = 0) {
  Json m = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
  if (id != 0) m["id"] = id;
  return m.dump();
}

// The generated song on its first `channels` channels: with four, the Game
// Boy's warnings are worked out too.
std::string songOn(std::size_t bytes, int channels) {
  std::string song = qvb::bench::generatedSource(bytes);
  song.replace(song.find("#CHANNEL 26"), 11, "#CHANNEL " + std::to_string(channels));
  for (std::size_t at = song.find("\n#"); at != std::string::npos; at = song.find("\n#", at + 1))
    if (song[at + 3] == ' ') song[at + 2] = static_cast<char>('A' + (song[at + 2] - 'A') % channels);
  return song;
}

// Arguments: the song's size, its channels, and 1 for a fault at its end
// (which keeps the passes for the later errors in the measure).
void BM_LspChange(benchmark::State& state) {
  std::string song = songOn(static_cast<std::size_t>(state.range(0)), static_cast<int>(state.range(1)));
  if (state.range(2) != 0) song += "#A v99\n";
  const std::string uri = "file:///bench.qvm";
  qvb::lsp::LanguageServer server;
  server.handle(message("initialize", {{"capabilities", Json::object()}}, 1));
  server.handle(message("textDocument/didOpen", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", song}}}}));
  const std::string change = message(
      "textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", 2}}}, {"contentChanges", {{{"text", song}}}}});
  for (auto _ : state) {
    const std::vector<std::string> out = server.handle(change);
    if (out.size() != 1) {
      state.SkipWithError("the change published no diagnostics");
      break;
    }
    benchmark::DoNotOptimize(out.front().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(song.size()));
}
BENCHMARK(BM_LspChange)->Args({100 << 10, 26, 1})->Args({100 << 10, 4, 0})->Unit(benchmark::kMillisecond);

}  // namespace
