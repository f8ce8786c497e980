// Bounded formatting with the Windows StringCchPrintf contract.
#pragma once

#include "../base/WinTypes.h"

#define STRSAFE_MAX_CCH 2147483647u
#define STRSAFE_E_INSUFFICIENT_BUFFER static_cast<HRESULT>(0x8007007Au)
#define STRSAFE_E_INVALID_PARAMETER static_cast<HRESULT>(0x80070057u)

// Writes at most cchDest - 1 characters and always terminates. Returns S_OK,
// STRSAFE_E_INSUFFICIENT_BUFFER when the text was cut, or
// STRSAFE_E_INVALID_PARAMETER for a capacity of 0 or above STRSAFE_MAX_CCH.
HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...)
    __attribute__((format(printf, 3, 4)));
