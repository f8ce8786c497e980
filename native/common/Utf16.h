// Conversion between UTF-16 (Java strings, file formats) and the platform's
// wide text. On Windows wchar_t is UTF-16 and these copy; on Linux wchar_t is
// UTF-32 and surrogate pairs are joined or split. Unpaired surrogates pass
// through unchanged, so any Java string survives a round trip.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

std::wstring WideFromUtf16(const char16_t* units, size_t count);
std::u16string Utf16FromWide(const wchar_t* text, size_t count);
// Writes the units of `text` to `to`, which has room for 2 * count of them;
// answers how many it wrote.
size_t Utf16Into(const wchar_t* text, size_t count, char16_t* to);

inline std::u16string Utf16FromWide(const std::wstring& text) {
  return Utf16FromWide(text.data(), text.size());
}

}  // namespace quorvane
