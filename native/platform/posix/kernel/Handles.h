// Handle services of the Linux build shared by every kind of kernel object:
// waiting, closing, the pseudo-handles and the access rights a handle keeps.
// Objects themselves are created by their own headers (Event.h, ...) and
// registered in the handle table of KernelObject.h.
#pragma once

#include "../base/WinTypes.h"
#include "KernelObject.h"

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Standard and generic access rights, sorted by value.
#define STANDARD_RIGHTS_READ 0x00020000u
#define STANDARD_RIGHTS_WRITE 0x00020000u
#define STANDARD_RIGHTS_EXECUTE 0x00020000u
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define SYNCHRONIZE 0x00100000u
#define MAXIMUM_ALLOWED 0x02000000u
#define GENERIC_ALL 0x10000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_READ 0x80000000u

// Waiting needs SYNCHRONIZE on the handle (else WAIT_FAILED with
// ERROR_ACCESS_DENIED). The pseudo-handles are signalled only when their
// process or thread ends, which their own threads never see: waiting on them
// times out (or blocks for INFINITE). WAIT_FAILED with ERROR_INVALID_HANDLE
// for an unknown or closed handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Drops the table's reference; the object goes when its last user is done.
// FALSE with ERROR_INVALID_HANDLE for an unknown or already closed handle;
// TRUE, doing nothing, for either pseudo-handle.
BOOL CloseHandle(HANDLE hObject);
// (HANDLE)-1.
HANDLE GetCurrentProcess();
// (HANDLE)-2.
HANDLE GetCurrentThread();

namespace quorvane {
namespace posix {

// How one kind of object reads the generic rights, as its Windows type does.
struct GenericMapping {
  DWORD read, write, execute, all;
};

// The rights a handle opened with `desired` holds: generic rights replaced by
// the kind's specific ones, MAXIMUM_ALLOWED by all of them. Every object
// belongs to the calling user, so whatever is asked is granted.
DWORD GrantedAccess(DWORD desired, const GenericMapping& mapping);

}  // namespace posix
}  // namespace quorvane
