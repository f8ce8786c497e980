// Registry writes: RegSetValueExW calls per second on one key of the user's
// registry, from one process and from four processes writing at once (each
// call one committed transaction, the writers queueing on the database's
// write lock). The registry lives in a temporary XDG_DATA_HOME.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "Win32Api.h"

namespace {

struct TemporaryRegistry {
  std::string folder;
  TemporaryRegistry() {
    char pattern[] = "/tmp/qv-registry-bench-XXXXXX";
    folder = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
  }
  ~TemporaryRegistry() { std::system(("rm -rf '" + folder + "'").c_str()); }
};

const TemporaryRegistry& Registry() {
  static TemporaryRegistry registry;
  return registry;
}

// `count` writes of a DWORD under names of their own; false on any failure.
bool Write(const wchar_t* prefix, int count) {
  HKEY key = nullptr;
  if (RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Quorvane Bench", &key) != ERROR_SUCCESS) return false;
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const DWORD value = static_cast<DWORD>(i);
    const std::wstring name = prefix + std::to_wstring(i % 1000);
    ok = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

void BM_SetValueOneProcess(benchmark::State& state) {
  Registry();
  for (auto _ : state)
    if (!Write(L"one", 100)) state.SkipWithError("RegSetValueExW failed");
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_SetValueOneProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SetValueFourProcesses(benchmark::State& state) {
  Registry();
  constexpr int kWriters = 4, kEach = 100;
  for (auto _ : state) {
    pid_t writers[kWriters];
    for (int w = 0; w < kWriters; ++w) {
      writers[w] = fork();
      if (writers[w] == 0) _exit(Write((L"p" + std::to_wstring(w) + L"-").c_str(), kEach) ? 0 : 1);
    }
    for (pid_t writer : writers) {
      int status = 0;
      waitpid(writer, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("a writer failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * kWriters * kEach);
}
BENCHMARK(BM_SetValueFourProcesses)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
