// Per-user data protection of the Linux build: CryptProtectData plus
// CryptUnprotectData of a 64-byte secret, per second. Each call reads the
// master key file, as the library keeps no key between calls.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "Win32Api.h"

namespace {

void ProtectAndUnprotect64Bytes(benchmark::State& state) {
  char pattern[] = "/tmp/qv-protect-bench-XXXXXX";
  const std::string root = mkdtemp(pattern);
  setenv("XDG_DATA_HOME", root.c_str(), 1);
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
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}
BENCHMARK(ProtectAndUnprotect64Bytes);

}  // namespace

BENCHMARK_MAIN();
