// Narrow <-> wide text of the typed property access: character by character
// through the character-type facet of the default locale, not through a code
// page. In the classic locale U+0000..U+00FF map onto the bytes 0x00..0xFF
// and every other character narrows to 0xB6.
#pragma once

#include <string>

namespace quorvane {

// Same length as the input; 0xB6 for a character without a narrow form.
std::string ToNarrow(const std::wstring& text);
// Same length as the input.
std::wstring ToWide(const std::string& text);

}  // namespace quorvane

namespace quorvane {

// Narrow values of the typed property access. Windows' storage hands a narrow
// value over as it is stored, and each byte is taken as one character
// (ToWide / ToNarrow). Our Linux storage hands it over in the ANSI code page,
// UTF-8 in most Linux locales, so there the bytes are decoded as they are.
std::wstring PropertyTextToWide(const char* text);
std::string PropertyTextToNarrow(const std::wstring& text);

}  // namespace quorvane
