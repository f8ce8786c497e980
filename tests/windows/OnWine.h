// Wine detection (only Wine's ntdll exports wine_get_version), so tests it cannot pass skip themselves there.
#pragma once

#include <windows.h>

#include <string>

namespace qvtest {

inline const char* WineVersion() {
  typedef const char*(__cdecl * Version)();
  const auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  return version ? version() : nullptr;
}

inline bool OnWine() { return WineVersion() != nullptr; }

inline std::wstring ProgramPath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}
// With a trailing backslash.
inline std::wstring ProgramFolder() { return ProgramPath().substr(0, ProgramPath().find_last_of(L"\\/") + 1); }

}  // namespace qvtest

#define QV_SKIP_ON_WINE(limitation) \
  do { if (qvtest::OnWine()) GTEST_SKIP() << "Wine: " << (limitation); } while (0)
