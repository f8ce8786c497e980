// lstrcmpiW of the Linux build: text compared ignoring case, character by
// character with the C library's case mapping (towlower), where Windows uses
// its linguistic word sort. Equal texts answer 0 on both, which is what the
// library asks of it.
#pragma once

#include "../WinTypes.h"

// <0, 0 or >0; a null text sorts before every other.
int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
