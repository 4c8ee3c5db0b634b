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

void BM_LspChange(benchmark::State& state) {
  // A fault near the end keeps the later-error passes in the measure.
  const std::string song = qvb::bench::generatedSource(static_cast<std::size_t>(state.range(0))) + "#A v99\n";
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
BENCHMARK(BM_LspChange)->Arg(100 << 10)->Unit(benchmark::kMillisecond);

}  // namespace
