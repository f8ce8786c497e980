#include "StringCompare.h"

#include <cwctype>

int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return (lpString1 != nullptr) - (lpString2 != nullptr);
  for (;; ++lpString1, ++lpString2) {
    const wint_t a = std::towlower(static_cast<wint_t>(*lpString1));
    const wint_t b = std::towlower(static_cast<wint_t>(*lpString2));
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}
