// lstrcmpiW of the Linux build: text compared ignoring case, character by
// character, both folded by FoldCase, where Windows uses its linguistic word
// sort. Equal texts answer 0 on both, which is what the library asks of it.
#pragma once

#include "../base/WinTypes.h"

// <0, 0 or >0; a null text sorts before every other.
int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);

namespace quorvane {
namespace posix {

// The one case folding of names: the simple upper case of a UTF-16 unit from
// Unicode's tables (C.UTF-8), whatever locale the host application set, as
// Windows folds names. Units outside the BMP stay as they are. ASCII, the
// bulk of names, is folded inline.
wchar_t FoldCaseBeyondAscii(wchar_t c);
inline wchar_t FoldCase(wchar_t c) {
  if (c >= 0x80) return FoldCaseBeyondAscii(c);
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace posix
}  // namespace quorvane
