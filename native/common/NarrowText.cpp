#include "NarrowText.h"

#include <locale>
#include <vector>

#include "Win32Api.h"

namespace quorvane {

namespace {

const char kNoNarrowForm = static_cast<char>(0xB6);

// The classic locale is Latin-1 on the Windows runtime; glibc's "C" locale is
// ASCII only and would lose 0x80..0xFF, so that mapping is made here.
bool IsClassic(const std::locale& locale) { return locale == std::locale::classic(); }

}  // namespace

std::string ToNarrow(const std::wstring& text) {
  const std::locale locale;
  std::string narrow(text.size(), '\0');
  if (IsClassic(locale)) {
    for (size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned long>(text[i]);
      narrow[i] = c <= 0xFF ? static_cast<char>(c) : kNoNarrowForm;
    }
    return narrow;
  }
  const auto& facet = std::use_facet<std::ctype<wchar_t>>(locale);
  for (size_t i = 0; i < text.size(); ++i) narrow[i] = facet.narrow(text[i], kNoNarrowForm);
  return narrow;
}

std::wstring ToWide(const std::string& text) {
  const std::locale locale;
  std::wstring wide(text.size(), L'\0');
  if (IsClassic(locale)) {
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return wide;
  }
  const auto& facet = std::use_facet<std::ctype<wchar_t>>(locale);
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = facet.widen(text[i]);
    // A byte the locale cannot widen keeps its Latin-1 value rather than WEOF.
    wide[i] = c == static_cast<wchar_t>(-1) ? static_cast<wchar_t>(static_cast<unsigned char>(text[i])) : c;
  }
  return wide;
}

#ifdef _WIN32

std::wstring PropertyTextToWide(const char* text) { return ToWide(text); }
std::string PropertyTextToNarrow(const std::wstring& text) { return ToNarrow(text); }

#else

std::wstring PropertyTextToWide(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (size <= 0) return ToWide(text);
  std::vector<WCHAR> wide(static_cast<size_t>(size));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size) != size) return ToWide(text);
  return std::wstring(wide.data());
}

std::string PropertyTextToNarrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return ToNarrow(text);
  std::vector<char> narrow(static_cast<size_t>(size));
  if (WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr) != size)
    return ToNarrow(text);
  return std::string(narrow.data());
}

#endif

}  // namespace quorvane
