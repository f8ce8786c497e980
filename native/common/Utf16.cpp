#include "Utf16.h"

namespace quorvane {

namespace {
bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

// Both write through a pointer into a string sized for the longest result,
// then trim: texts of megabytes are converted in one pass, no check per unit.
std::wstring WideFromUtf16(const char16_t* units, size_t count) {
  std::wstring out(count, L'\0');
  wchar_t* to = &out[0];
  for (size_t i = 0; i < count; ++i) {
    const char16_t u = units[i];
    if (sizeof(wchar_t) > 2 && IsHighSurrogate(u) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      *to++ = static_cast<wchar_t>(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      *to++ = static_cast<wchar_t>(u);
    }
  }
  out.resize(static_cast<size_t>(to - out.data()));
  return out;
}

std::u16string Utf16FromWide(const wchar_t* text, size_t count) {
  std::u16string out(sizeof(wchar_t) > 2 ? 2 * count : count, u'\0');
  out.resize(Utf16Into(text, count, &out[0]));
  return out;
}

size_t Utf16Into(const wchar_t* text, size_t count, char16_t* to) {
  char16_t* const start = to;
  for (size_t i = 0; i < count; ++i) {
    const auto cp = static_cast<unsigned long>(text[i]);
    if (sizeof(wchar_t) > 2 && cp >= 0x10000 && cp <= 0x10FFFF) {
      const unsigned long v = cp - 0x10000;
      *to++ = static_cast<char16_t>(0xD800 + (v >> 10));
      *to++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else if (cp > 0x10FFFF) {
      *to++ = u'\uFFFD';  // not a Unicode scalar value
    } else {
      *to++ = static_cast<char16_t>(cp);
    }
  }
  return static_cast<size_t>(to - start);
}

}  // namespace quorvane
