#include "Utf16.h"

namespace quorvane {

namespace {
bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

std::wstring WideFromUtf16(const char16_t* units, size_t count) {
  std::wstring out;
  out.reserve(count);
  if (sizeof(wchar_t) == 2) {
    for (size_t i = 0; i < count; ++i) out.push_back(static_cast<wchar_t>(units[i]));
    return out;
  }
  for (size_t i = 0; i < count; ++i) {
    const char16_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      out.push_back(static_cast<wchar_t>(cp));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(u));
    }
  }
  return out;
}

std::u16string Utf16FromWide(const wchar_t* text, size_t count) {
  std::u16string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto cp = static_cast<unsigned long>(text[i]);
    if (sizeof(wchar_t) > 2 && cp >= 0x10000 && cp <= 0x10FFFF) {
      const unsigned long v = cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else if (cp > 0x10FFFF) {
      out.push_back(u'\uFFFD');  // not a Unicode scalar value
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace quorvane
