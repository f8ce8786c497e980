// Kernel string helpers of the Linux build.
#pragma once

#include "../base/WinTypes.h"

// Case-sensitive comparison in the collation order of the process's locale
// (LC_COLLATE), negative, 0 or positive. A null string sorts before any
// other and equals another null.
int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
// 0 for null.
int lstrlenW(LPCWSTR lpString);
