#include "ProcessInfo.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "ProcessList.h"

namespace {

std::wstring ReadExecutablePath() {
  std::string target;
  return quorvane::posix::ReadProcessExecutable(static_cast<DWORD>(getpid()), &target)
             ? quorvane::posix::WideFromFileSystemText(target)
             : std::wstring();
}

}  // namespace

namespace {

// getpid is a system call every time; the logger asks for it on every line.
// A forked child learns its own id from the fork handler.
std::atomic<DWORD> g_processId{0};

void ForgetProcessId() { g_processId.store(0); }

}  // namespace

DWORD GetCurrentProcessId() {
  DWORD id = g_processId.load(std::memory_order_relaxed);
  if (id == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, ForgetProcessId);
    (void)registered;
    id = static_cast<DWORD>(getpid());
    g_processId.store(id, std::memory_order_relaxed);
  }
  return id;
}

DWORD GetCurrentThreadId() {
  // Cached per thread: the logger asks for it on every line.
  static thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
  return id;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  static const std::wstring path = ReadExecutablePath();
  if (path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::wmemcpy(lpFilename, path.c_str(), nSize - 1);
    lpFilename[nSize - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::wmemcpy(lpFilename, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}
