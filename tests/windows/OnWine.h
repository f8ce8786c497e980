// Helpers of the Windows tests: Wine detection (ntdll exports
// wine_get_version only under Wine; tests that Wine cannot pass skip
// themselves there, naming its limitation), this program's path, and child processes.
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

// Starts `commandLine` with this process's environment; null on failure.
inline HANDLE StartProcess(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Waits for the process and closes it; its exit code, or -1 on a timeout.
inline long Finish(HANDLE process, DWORD timeoutMs = 60000) {
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
  else TerminateProcess(process, 1);
  CloseHandle(process);
  return static_cast<long>(code);
}

}  // namespace qvtest

#define QV_SKIP_ON_WINE(limitation) \
  do {                              \
    if (qvtest::OnWine()) GTEST_SKIP() << "Wine: " << (limitation); \
  } while (0)
