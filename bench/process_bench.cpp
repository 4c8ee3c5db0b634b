// The programs as a user runs them, a fresh process each time: `qvbp -c` of
// the generated source (bytes per second: reading the file, the compile and
// writing the .qvb) and `qvbrender -t 600` of the demo song into a WAV file
// (x_real_time). The work happens in the child, so these time the wall clock;
// a machine's noise shows in the spread of five repetitions.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/generated_source.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs the program in `dir` with its output thrown away; true when it exits with 0.
bool run(std::vector<std::string> argv, const fs::path& dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  pid_t child = 0;
  const bool started = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return started && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Five repetitions, reported as mean, median and spread.
void repeated(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
}

// A directory of the benchmark's own beside the build, removed at the end.
struct WorkDir {
  fs::path path = fs::current_path() / "qvbp_bench_process";
  WorkDir() { fs::create_directories(path); }
  ~WorkDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

void BM_CompileProcess(benchmark::State& state) {
  const WorkDir dir;
  const std::string source = qvb::bench::generatedSource(static_cast<std::size_t>(state.range(0)));
  std::ofstream(dir.path / "song.qvm", std::ios::binary) << source;
  for (auto _ : state) {
    if (!run({QVBP_EXE, "-c", "song.qvm"}, dir.path)) {
      state.SkipWithError("qvbp -c failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(source.size()));
}
BENCHMARK(BM_CompileProcess)->Arg(1 << 20)->Arg(8 << 20)->Apply(repeated);

void BM_RenderProcess(benchmark::State& state) {
  constexpr int kSeconds = 600;
  const WorkDir dir;
  for (auto _ : state) {
    if (!run({QVBRENDER_EXE, "-t", std::to_string(kSeconds), "-o", "out.wav", QVBP_SOURCE_DIR "/examples/demo.qvm"},
             dir.path)) {
      state.SkipWithError("qvbrender failed");
      break;
    }
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(kSeconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderProcess)->Apply(repeated);

}  // namespace
