// The dump tools' text: printable ASCII, \uXXXX for other units, dates in Unix ms, doubles as bits, so outputs diff.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "Utf16.h"
#include "Win32Api.h"

namespace qvdump {

// Releases its COM object at the end of the scope.
template <typename T>
struct Com {
  ~Com() { if (p) p->Release(); }
  T* operator->() const { return p; }
  T* p = nullptr;
};

inline PROPVARIANT Var(VARTYPE vt) {
  PROPVARIANT v;
  std::memset(&v, 0, sizeof v);
  v.vt = vt;
  return v;
}

inline std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  std::wstring wide(text.size(), L'\0');
  const int length = static_cast<int>(text.size());
  if (length) wide.resize(MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], length));
  return wide;
}

inline std::string Hex(HRESULT hr) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

inline std::string Escape(const std::wstring& text) {
  std::string out;
  char buf[8];
  for (char16_t u : quorvane::Utf16FromWide(text))
    if (u >= 0x20 && u < 0x7F && u != '\\') out.push_back(static_cast<char>(u));
    else out.append(buf, std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u)));
  return out;
}

// VT_LPSTR text is decoded from `lpstrCodePage`.
inline std::string Value(const PROPVARIANT& v, UINT lpstrCodePage) {
  char buf[64];
  switch (v.vt) {
    case VT_I2: return std::to_string(v.iVal);
    case VT_UI2: return std::to_string(v.uiVal);
    case VT_I4: case VT_INT: return std::to_string(v.lVal);
    case VT_UI4: case VT_UINT: return std::to_string(v.ulVal);
    case VT_I1: return std::to_string(v.cVal);
    case VT_UI1: return std::to_string(v.bVal);
    case VT_BOOL: return v.boolVal ? "true" : "false";
    case VT_LPSTR: return "\"" + Escape(Wide(v.pszVal ? v.pszVal : "", lpstrCodePage)) + "\"";
    case VT_LPWSTR: return "\"" + Escape(v.pwszVal ? v.pwszVal : L"") + "\"";
    case VT_BSTR: return "\"" + Escape(v.bstrVal ? v.bstrVal : L"") + "\"";
    case VT_FILETIME: {
      const uint64_t ticks = (uint64_t(v.filetime.dwHighDateTime) << 32) | v.filetime.dwLowDateTime;
      std::snprintf(buf, sizeof buf, "%" PRId64, int64_t(ticks / 10000) - int64_t(11644473600000));
      return buf;
    }
    case VT_R8: {
      uint64_t bits;
      std::memcpy(&bits, &v.dblVal, 8);
      std::snprintf(buf, sizeof buf, "%" PRIx64, bits);
      return buf;
    }
    default: return "-";
  }
}

}  // namespace qvdump
