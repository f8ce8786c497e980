// Error mode, working set and tick count of the current process.
#include "Process.h"

#include <malloc.h>

#include <atomic>
#include <mutex>

#include "../base/ErrnoMapping.h"
#include "Clock.h"

namespace {

std::atomic<UINT> g_errorMode{0};

// Windows' defaults for a new process: 200 KB minimum, 1380 KB maximum.
std::mutex g_workingSetMutex;
SIZE_T g_minimumWorkingSet = 200 * 1024;
SIZE_T g_maximumWorkingSet = 1380 * 1024;

// Only the current process is reachable; anything else (the current-thread
// pseudo-handle, an event) is the wrong kind of handle, as Windows says.
bool IsCurrentProcess(HANDLE hProcess) {
  if (hProcess == GetCurrentProcess()) return true;
  SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

}  // namespace

UINT SetErrorMode(UINT uMode) {
  UINT previous = g_errorMode.load();
  while (!g_errorMode.compare_exchange_weak(previous, uMode | (previous & SEM_NOALIGNMENTFAULTEXCEPT))) {
  }
  return previous;
}

BOOL SetProcessWorkingSetSize(HANDLE hProcess, SIZE_T dwMinimumWorkingSetSize, SIZE_T dwMaximumWorkingSetSize) {
  if (!IsCurrentProcess(hProcess)) return FALSE;
  const SIZE_T all = static_cast<SIZE_T>(-1);
  if (dwMinimumWorkingSetSize == all && dwMaximumWorkingSetSize == all) return EmptyWorkingSet(hProcess);
  if (dwMinimumWorkingSetSize > dwMaximumWorkingSetSize) return FALSE;
  std::lock_guard<std::mutex> lock(g_workingSetMutex);
  g_minimumWorkingSet = dwMinimumWorkingSetSize;
  g_maximumWorkingSet = dwMaximumWorkingSetSize;
  return TRUE;
}

BOOL GetProcessWorkingSetSize(HANDLE hProcess, SIZE_T* lpMinimumWorkingSetSize, SIZE_T* lpMaximumWorkingSetSize) {
  if (!IsCurrentProcess(hProcess) || lpMinimumWorkingSetSize == nullptr || lpMaximumWorkingSetSize == nullptr)
    return FALSE;
  std::lock_guard<std::mutex> lock(g_workingSetMutex);
  *lpMinimumWorkingSetSize = g_minimumWorkingSet;
  *lpMaximumWorkingSetSize = g_maximumWorkingSet;
  return TRUE;
}

BOOL EmptyWorkingSet(HANDLE hProcess) {
  if (!IsCurrentProcess(hProcess)) return FALSE;
  malloc_trim(0);
  return TRUE;
}

DWORD GetTickCount() { return static_cast<DWORD>(quorvane::posix::TickCount64()); }

ULONGLONG GetTickCount64() { return quorvane::posix::TickCount64(); }
