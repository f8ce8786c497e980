#include "Environment.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"

DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
  using namespace quorvane::posix;
  if (lpName == nullptr || *lpName == L'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string name = FileSystemTextFromWide(lpName);
  // getenv would take "A=B" as the name A; Windows refuses such names.
  const char* raw = name.find('=') == std::string::npos ? std::getenv(name.c_str()) : nullptr;
  if (raw == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const std::wstring value = WideFromFileSystemText(raw, std::strlen(raw));
  if (value.empty()) {
    if (lpBuffer != nullptr && nSize > 0) lpBuffer[0] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return 0;
  }
  if (lpBuffer == nullptr || nSize <= value.size()) return static_cast<DWORD>(value.size() + 1);
  std::wmemcpy(lpBuffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}
