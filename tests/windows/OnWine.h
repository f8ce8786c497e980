// Wine detection for the Windows tests (ntdll exports wine_get_version only
// under Wine): tests that Wine cannot pass skip themselves there, naming the
// Wine limitation.
#pragma once

#include <windows.h>

namespace qvtest {

inline const char* WineVersion() {
  typedef const char*(__cdecl * Version)();
  const auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  return version ? version() : nullptr;
}

inline bool OnWine() { return WineVersion() != nullptr; }

}  // namespace qvtest

#define QV_SKIP_ON_WINE(limitation) \
  do {                              \
    if (qvtest::OnWine()) GTEST_SKIP() << "Wine: " << (limitation); \
  } while (0)
