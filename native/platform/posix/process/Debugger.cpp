#include "Debugger.h"

#include <syslog.h>

#include <cwchar>
#include <string>

#include "../text/FileSystemText.h"

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  size_t length = std::wcslen(lpOutputString);
  while (length > 0 && (lpOutputString[length - 1] == L'\n' || lpOutputString[length - 1] == L'\r')) --length;
  const std::string text = quorvane::posix::FileSystemTextFromWide(lpOutputString, length);
  syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str());
}
