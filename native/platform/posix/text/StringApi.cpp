#include "StringApi.h"

#include <cwchar>

int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) {
    if (lpString1 == lpString2) return 0;
    return lpString1 == nullptr ? -1 : 1;
  }
  const int order = std::wcscoll(lpString1, lpString2);
  // Collation may rank distinct strings equal; callers use 0 to mean "the
  // same key", so ties between different texts fall back to the code points.
  if (order != 0) return order < 0 ? -1 : 1;
  const int exact = std::wcscmp(lpString1, lpString2);
  return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

int lstrlenW(LPCWSTR lpString) { return lpString ? static_cast<int>(std::wcslen(lpString)) : 0; }
