// Text forms shared by the property dump tools: printable ASCII with \uXXXX
// for every other UTF-16 unit, GUIDs in registry form, and values (dates as
// Unix milliseconds, doubles as their bits, other types as "-").
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "Utf16.h"
#include "Win32Api.h"

namespace qvdump {

inline std::string Escape(const std::wstring& text) {
  std::string out;
  char buf[8];
  for (char16_t u : quorvane::Utf16FromWide(text))
    if (u >= 0x20 && u < 0x7F && u != '\\') out.push_back(static_cast<char>(u));
    else out.append(buf, std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u)));
  return out;
}

inline std::string Guid(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
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
    case VT_LPSTR: {
      const char* s = v.pszVal ? v.pszVal : "";
      const int length = static_cast<int>(std::strlen(s));
      std::wstring wide(length, L'\0');
      if (length) wide.resize(MultiByteToWideChar(lpstrCodePage, 0, s, length, &wide[0], length));
      return "\"" + Escape(wide) + "\"";
    }
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
