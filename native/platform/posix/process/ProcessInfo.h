// Identity of the current process and thread in the Linux build.
#pragma once

#include "../base/WinTypes.h"

#ifndef ERROR_MOD_NOT_FOUND
#  define ERROR_MOD_NOT_FOUND 126L
#endif

DWORD GetCurrentProcessId();
// The kernel's thread id (gettid), as ps and /proc show it.
DWORD GetCurrentThreadId();
// hModule NULL: the executable of the process (/proc/self/exe, read once:
// it cannot change). Other module handles answer 0 with
// ERROR_MOD_NOT_FOUND (this layer hands none out). A name longer than
// nSize - 1 is cut, terminated, and answered with nSize and
// ERROR_INSUFFICIENT_BUFFER, as Windows does.
DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
