#include "StringCompare.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace quorvane {
namespace posix {

wchar_t FoldCaseBeyondAscii(wchar_t c) {
  if (c > 0xFFFF) return c;
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (unicode == static_cast<locale_t>(0)) return c;
  const wint_t upper = towupper_l(static_cast<wint_t>(c), unicode);
  return upper <= 0xFFFF ? static_cast<wchar_t>(upper) : c;
}

}  // namespace posix
}  // namespace quorvane

int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return (lpString1 != nullptr) - (lpString2 != nullptr);
  for (;; ++lpString1, ++lpString2) {
    const wchar_t a = quorvane::posix::FoldCase(*lpString1);
    const wchar_t b = quorvane::posix::FoldCase(*lpString2);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}
