// Registry writes: RegSetValueExW calls per second on one key of the user's
// registry, from one process and from four processes writing at once (each
// call one committed transaction, the writers queueing on the database's
// write lock). Reads: RegEnumValueW over every value of a key (names and
// sizes only), for 1,000 and 20,000 small values and 40 values of 1 MB; two
// handles walking 20,000 values in lockstep; and a walk of 20,000 values
// that writes each one back as it goes. The registry lives in a temporary
// XDG_DATA_HOME.
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

// A key of `count` values of `size` bytes each, made once.
HKEY FilledKey(int count, DWORD size) {
  const std::wstring path = L"Software\\Quorvane Bench\\Enum " + std::to_wstring(count) + L"x" + std::to_wstring(size);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) return key;
  if (RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) return nullptr;
  const std::string data(size, 'x');
  for (int i = 0; i < count; ++i)
    if (RegSetValueExW(key, (L"value" + std::to_wstring(i)).c_str(), 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(data.data()), size) != ERROR_SUCCESS)
      return nullptr;
  return key;
}

void BM_EnumValues(benchmark::State& state) {
  Registry();
  const int count = static_cast<int>(state.range(0));
  HKEY key = FilledKey(count, static_cast<DWORD>(state.range(1)));
  if (key == nullptr) state.SkipWithError("cannot fill the key");
  for (auto _ : state) {
    int seen = 0;
    for (DWORD index = 0;; ++index, ++seen) {
      wchar_t name[32];
      DWORD units = 32, type = 0, size = 0;
      if (RegEnumValueW(key, index, name, &units, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    }
    if (seen != count) state.SkipWithError("enumeration ended early");
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_EnumValues)->Args({1000, 4})->Args({20000, 4})->Args({40, 1 << 20})->Unit(benchmark::kMillisecond)
    ->UseRealTime();

HKEY Reopened(int count) {
  const std::wstring path = L"Software\\Quorvane Bench\\Enum " + std::to_wstring(count) + L"x4";
  HKEY key = nullptr;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &key) == ERROR_SUCCESS ? key
                                                                                                      : nullptr;
}

// Two handles on one key, each asking for the next index in turn.
void BM_EnumValuesTwoInLockstep(benchmark::State& state) {
  Registry();
  const int count = static_cast<int>(state.range(0));
  RegCloseKey(FilledKey(count, 4));
  HKEY first = Reopened(count), second = Reopened(count);
  if (first == nullptr || second == nullptr) state.SkipWithError("cannot open the key twice");
  for (auto _ : state) {
    int seen = 0;
    for (DWORD index = 0;; ++index) {
      wchar_t name[32];
      DWORD units = 32, size = 0;
      if (RegEnumValueW(first, index, name, &units, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) break;
      units = 32;
      if (RegEnumValueW(second, index, name, &units, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) break;
      ++seen;
    }
    if (seen != count) state.SkipWithError("enumeration ended early");
  }
  RegCloseKey(first);
  RegCloseKey(second);
  state.SetItemsProcessed(state.iterations() * count * 2);
}
BENCHMARK(BM_EnumValuesTwoInLockstep)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each value read and written back, changed, before the next index.
void BM_EnumValuesWritingBack(benchmark::State& state) {
  Registry();
  const int count = static_cast<int>(state.range(0));
  RegCloseKey(FilledKey(count, 4));
  HKEY key = Reopened(count);
  if (key == nullptr) state.SkipWithError("cannot open the key");
  for (auto _ : state) {
    int seen = 0;
    for (DWORD index = 0;; ++index, ++seen) {
      wchar_t name[32];
      BYTE data[4];
      DWORD units = 32, type = 0, size = sizeof data;
      if (RegEnumValueW(key, index, name, &units, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
      data[0] ^= 1;
      if (RegSetValueExW(key, name, 0, type, data, size) != ERROR_SUCCESS) state.SkipWithError("write failed");
    }
    if (seen != count) state.SkipWithError("enumeration ended early");
  }
  RegCloseKey(key);
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_EnumValuesWritingBack)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
