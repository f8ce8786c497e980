// WaitForSingleObject, CloseHandle and GetCurrentProcess over the handle table.
#include "Handles.h"

#include "../ErrnoMapping.h"
#include "Clock.h"

using quorvane::posix::Deadline;
using quorvane::posix::LookupHandle;

namespace {

bool IsCurrentProcess(HANDLE handle) { return handle == GetCurrentProcess(); }

}  // namespace

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (IsCurrentProcess(hHandle)) {
    // A process is signalled when it has ended; its own threads never see that.
    quorvane::posix::SleepUntil(Deadline(dwMilliseconds));
    return WAIT_TIMEOUT;
  }
  auto object = LookupHandle(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(dwMilliseconds);
}

BOOL CloseHandle(HANDLE hObject) {
  if (IsCurrentProcess(hObject)) return TRUE;  // closing a pseudo-handle does nothing
  if (quorvane::posix::UnregisterHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
