// Kernel objects of the Linux build (events, mutexes, files, change
// notifications, ...) and the process-wide table that maps HANDLE values to
// them. HANDLE values are small integers so that they survive the round trip
// through a Java int; (HANDLE)-1 is the current-process pseudo-handle.
#pragma once

#include <memory>

#include "../WinTypes.h"

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
};

// Thread-safe. A closed value is not handed out again soon, so a stale copy
// of a handle fails rather than reaching another object.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
// Null for an unknown, closed or pseudo handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
// False for an unknown or already closed handle.
bool UnregisterHandle(HANDLE handle);

}  // namespace posix
}  // namespace quorvane
