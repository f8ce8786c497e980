// Lines per second through the logger at INFO with file output: one process,
// and four processes sharing the file (and its mutex and roll).
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "Logger.h"

namespace {

// A data folder with settings for INFO lines into bench.log.
class BenchFolder {
 public:
  BenchFolder() {
    char pattern[] = "/tmp/qv-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    std::filesystem::create_directories(root_ + "/Quorvane/data");
    std::ofstream(root_ + "/Quorvane/data/ai.config") << "logger.file=bench.log\nlogger.level=INFO\n";
    setenv("XDG_DATA_HOME", root_.c_str(), 1);
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::string root_;
};

void LogInfoToFile(benchmark::State& state) {
  BenchFolder folder;
  Logger logger;
  int i = 0;
  for (auto _ : state) logger.LogInfo(L"benchmark line %1!d! of %2", ++i, L"the logger");
  state.SetItemsProcessed(state.iterations());
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(LogInfoToFile)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Four processes, each writing `lines` lines; the rate counts all of them.
void LogInfoToFileFourProcesses(benchmark::State& state) {
  const int kProcesses = 4;
  const int lines = static_cast<int>(state.range(0));
  BenchFolder folder;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pid_t children[kProcesses];
    for (int p = 0; p < kProcesses; ++p) {
      children[p] = fork();
      if (children[p] == 0) {
        Logger logger;
        for (int i = 0; i < lines; ++i) logger.LogInfo(L"process %1!d! line %2!d!", p, i);
        _exit(0);
      }
    }
    for (pid_t child : children) waitpid(child, nullptr, 0);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const double total = static_cast<double>(state.iterations()) * kProcesses * lines;
  state.SetItemsProcessed(static_cast<int64_t>(total));
  state.counters["lines/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
}
BENCHMARK(LogInfoToFileFourProcesses)->Arg(50000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
