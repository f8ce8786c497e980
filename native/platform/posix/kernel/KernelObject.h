// Kernel objects of the Linux build (events, mutexes, files, change
// notifications, ...) and the process-wide table that maps HANDLE values to
// them. HANDLE values are small integers so that they survive the round trip
// through a Java int; (HANDLE)-1 and (HANDLE)-2 are the current-process and
// current-thread pseudo-handles.
//
// As on Windows, access rights belong to the handle, not to the object: two
// handles to one named event may allow different things.
#pragma once

#include <memory>

#include "../base/ErrnoMapping.h"
#include "../base/WinTypes.h"

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

namespace quorvane {
namespace posix {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WaitForSingleObject on this object: WAIT_OBJECT_0, WAIT_ABANDONED,
  // WAIT_TIMEOUT or WAIT_FAILED. timeoutMs may be INFINITE.
  virtual DWORD Wait(DWORD timeoutMs) = 0;
  // CloseHandle of one handle to this object, before the table lets go of
  // it: a call blocked on the handle in another thread ends here (Windows
  // cancels the handle's pending I/O). Must not block.
  virtual void HandleClosed() {}
};

// Every standard and specific right: what a handle gets when it is made by
// a call that takes no desired access (CreateEventW, CreateFileW's own checks).
constexpr DWORD kAllAccess = 0x001FFFFFu;

// Thread-safe. A closed value is not handed out again soon, so a stale copy
// of a handle fails rather than reaching another object.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object, DWORD access = kAllAccess);
// Null for an unknown, closed or pseudo handle; access is not checked.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// As LookupHandle, with the handle's access rights (0 when there is no object).
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, DWORD* access);
// False for an unknown or already closed handle.
bool UnregisterHandle(HANDLE handle);

// The object of kind T behind `handle` when the handle holds every right in
// `access`. Otherwise null with Windows' last error: ERROR_INVALID_HANDLE for
// an unknown handle or an object of another kind (checked first, as Windows
// does), ERROR_ACCESS_DENIED for a missing right.
template <class T>
std::shared_ptr<T> ReferenceHandle(HANDLE handle, DWORD access) {
  DWORD granted = 0;
  auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle, &granted));
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((granted & access) != access) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return object;
}

}  // namespace posix
}  // namespace quorvane
