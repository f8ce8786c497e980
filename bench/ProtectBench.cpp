// Per-user data protection of the Linux build: CryptProtectData plus
// CryptUnprotectData of a 64-byte secret, per second, on one thread and on
// eight. The store is the environment's: the key file under XDG_DATA_HOME
// (a fresh temporary folder when unset) without a session bus, the Secret
// Service with one (bench/run-protect-bench.sh runs both).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "Win32Api.h"

namespace {

// A data folder of the bench's own unless the caller named one.
struct DataFolder {
  std::string made;
  DataFolder() {
    if (getenv("XDG_DATA_HOME") != nullptr) return;
    char pattern[] = "/tmp/qv-protect-bench-XXXXXX";
    made = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", made.c_str(), 1);
  }
  ~DataFolder() {
    std::error_code ignored;
    if (!made.empty()) std::filesystem::remove_all(made, ignored);
  }
};
const DataFolder data;

void ProtectAndUnprotect64Bytes(benchmark::State& state) {
  BYTE secret[64];
  for (int i = 0; i < 64; ++i) secret[i] = static_cast<BYTE>(i * 7);
  for (auto _ : state) {
    DATA_BLOB plain = {sizeof secret, secret}, blob = {}, back = {};
    if (!CryptProtectData(&plain, L"ark_secret", nullptr, nullptr, nullptr, 0, &blob) ||
        !CryptUnprotectData(&blob, nullptr, nullptr, nullptr, nullptr, 0, &back) || back.cbData != sizeof secret) {
      state.SkipWithError("protection failed");
      break;
    }
    LocalFree(blob.pbData);
    LocalFree(back.pbData);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ProtectAndUnprotect64Bytes)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
