// Handle services of the Linux build shared by every kind of kernel object:
// waiting, closing and the current-process pseudo-handle. Objects themselves
// are created by their own headers (Event.h, ...) and registered in the
// handle table of KernelObject.h.
#pragma once

#include "../WinTypes.h"
#include "KernelObject.h"

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u

// The object's Wait; the current-process pseudo-handle is signalled only when
// the process ends, so waiting on it times out (or blocks for INFINITE).
// WAIT_FAILED for an unknown, closed or other pseudo handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Drops the table's reference; the object goes when its last user is done.
// FALSE for an unknown or already closed handle; TRUE for the pseudo-handle.
BOOL CloseHandle(HANDLE hObject);
// (HANDLE)-1.
HANDLE GetCurrentProcess();
