// WaitForSingleObject, CloseHandle, the pseudo-handles and access mapping
// over the handle table.
#include "Handles.h"

#include "../base/ErrnoMapping.h"
#include "Clock.h"

using quorvane::posix::Deadline;
using quorvane::posix::KernelObject;
using quorvane::posix::ReferenceHandle;

namespace {

bool IsPseudoHandle(HANDLE handle) { return handle == GetCurrentProcess() || handle == GetCurrentThread(); }

}  // namespace

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (IsPseudoHandle(hHandle)) {
    // Signalled when the process or thread has ended; the caller is still running.
    quorvane::posix::SleepUntil(Deadline(dwMilliseconds));
    return WAIT_TIMEOUT;
  }
  auto object = ReferenceHandle<KernelObject>(hHandle, SYNCHRONIZE);
  if (!object) return WAIT_FAILED;
  return object->Wait(dwMilliseconds);
}

BOOL CloseHandle(HANDLE hObject) {
  if (IsPseudoHandle(hObject)) return TRUE;  // closing a pseudo-handle does nothing
  if (quorvane::posix::UnregisterHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

namespace quorvane {
namespace posix {

DWORD GrantedAccess(DWORD desired, const GenericMapping& mapping) {
  DWORD granted = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (desired & GENERIC_READ) granted |= mapping.read;
  if (desired & GENERIC_WRITE) granted |= mapping.write;
  if (desired & GENERIC_EXECUTE) granted |= mapping.execute;
  if (desired & (GENERIC_ALL | MAXIMUM_ALLOWED)) granted |= mapping.all;
  return granted;
}

}  // namespace posix
}  // namespace quorvane
