// Process services of the Linux build: error mode, working set, tick count.
// Only the current process is reachable, through its pseudo-handle (-1).
#pragma once

#include "../base/WinTypes.h"
#include "Handles.h"

#define SEM_FAILCRITICALERRORS 0x0001u
#define SEM_NOGPFAULTERRORBOX 0x0002u
#define SEM_NOALIGNMENTFAULTEXCEPT 0x0004u
#define SEM_NOOPENFILEERRORBOX 0x8000u

// Process-wide; returns the previous mode. As on Windows,
// SEM_NOALIGNMENTFAULTEXCEPT once set stays set.
UINT SetErrorMode(UINT uMode);
// Both sizes (SIZE_T)-1: give back as much memory as possible (EmptyWorkingSet).
// Otherwise the limits are checked (minimum <= maximum) and kept as advice,
// which is all an unprivileged Linux process can do with them. FALSE for a
// handle that is not the current process (ERROR_INVALID_HANDLE).
BOOL SetProcessWorkingSetSize(HANDLE hProcess, SIZE_T dwMinimumWorkingSetSize, SIZE_T dwMaximumWorkingSetSize);
// The limits last set, or the defaults; FALSE for a handle that is not the current process.
BOOL GetProcessWorkingSetSize(HANDLE hProcess, SIZE_T* lpMinimumWorkingSetSize, SIZE_T* lpMaximumWorkingSetSize);
// Returns freed heap memory to the system (malloc_trim).
BOOL EmptyWorkingSet(HANDLE hProcess);
// Milliseconds since boot, wrapping every 49.7 days.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
