// Environment variables of the Linux build with the Windows contract.
#pragma once

#include "../base/WinTypes.h"

// The value's length without the terminator when it fits in nSize
// characters; the size needed (terminator included) when it does not; 0 with
// ERROR_ENVVAR_NOT_FOUND when the variable is not set (0 with error 0 for an
// empty value). Values are decoded as in FileSystemText.h.
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
