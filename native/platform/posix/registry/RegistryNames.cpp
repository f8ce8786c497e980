// Name folding, UTF-8 and key paths of the registry database.
#include "RegistryNames.h"

#include "../text/FileSystemText.h"
#include "../base/WinError.h"
#include "../text/StringCompare.h"

namespace quorvane {
namespace posix {
namespace registry {

std::string Utf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    const uint32_t point = static_cast<uint32_t>(c);
    AppendUtf8(out, point > 0x10FFFF ? 0xFFFD : point);
  }
  return out;
}

// Reads back what Utf8 wrote (lone surrogates included); a malformed byte
// becomes U+FFFD.
std::wstring Wide(const std::string& utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra >= utf8.size()) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (next & 0x3F);
    }
    out += ok ? static_cast<wchar_t>(c) : static_cast<wchar_t>(0xFFFD);
    i += ok ? extra + 1 : 1;
  }
  return out;
}

size_t Utf16Length(const std::wstring& text) {
  size_t units = 0;
  for (wchar_t c : text) units += static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
  return units;
}

Name NameOf(const std::wstring& name) {
  std::wstring folded(name);
  for (wchar_t& c : folded) c = FoldCase(c);
  return Name{Utf8(name), Utf8(folded)};
}

LONG SplitPath(LPCWSTR path, std::vector<Name>* parts) {
  parts->clear();
  if (path == nullptr || *path == 0) return ERROR_SUCCESS;
  if (*path == L'\\') return ERROR_BAD_PATHNAME;
  std::wstring part;
  for (const WCHAR* p = path;; ++p) {
    if (*p == L'\\' || *p == 0) {
      if (part.empty()) {
        if (*p == 0) break;  // the one trailing backslash
        return ERROR_BAD_PATHNAME;
      }
      if (Utf16Length(part) > QV_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
      parts->push_back(NameOf(part));
      part.clear();
      if (*p == 0) break;
    } else {
      part += *p;
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
