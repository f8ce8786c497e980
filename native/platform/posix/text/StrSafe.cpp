#include "StrSafe.h"

#include <cstdarg>
#include <cstdio>

#include "../base/WinError.h"

HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...) {
  if (cchDest == 0 || cchDest > STRSAFE_MAX_CCH) {
    // Windows also empties the buffer when it has room for the terminator.
    if (cchDest != 0 && pszDest) *pszDest = '\0';
    return STRSAFE_E_INVALID_PARAMETER;
  }
  va_list args;
  va_start(args, pszFormat);
  const int written = std::vsnprintf(pszDest, cchDest, pszFormat, args);
  va_end(args);
  if (written < 0) {
    pszDest[0] = '\0';
    return STRSAFE_E_INVALID_PARAMETER;
  }
  if (static_cast<size_t>(written) >= cchDest) return STRSAFE_E_INSUFFICIENT_BUFFER;
  return S_OK;
}
