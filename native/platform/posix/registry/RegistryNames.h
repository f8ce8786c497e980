// Names of keys and values as the registry database keeps them: UTF-8 of the
// name as created, and a folded form to compare and order by.
#pragma once

#include <string>
#include <vector>

#include "RegistryApi.h"

namespace quorvane {
namespace posix {
namespace registry {

struct Name {
  std::string text;    // UTF-8 of the name as given
  std::string folded;  // UTF-8 of the name upper-cased unit by unit
};

// Windows' comparison: each unit upper-cased by its simple mapping, with no
// regard to the user's locale (so 'i' is 'I' even for a Turkish user);
// characters beyond the Basic Multilingual Plane are UTF-16 surrogates to
// Windows and stay as they are.
Name NameOf(const std::wstring& name);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// Length of the name in UTF-16 units, as Windows counts it.
size_t Utf16Length(const std::wstring& text);

// Splits "a\b\c" into its parts. A single trailing backslash is allowed; a
// leading one or an empty part answers ERROR_BAD_PATHNAME, a part longer
// than 255 units ERROR_INVALID_PARAMETER.
LONG SplitPath(LPCWSTR path, std::vector<Name>* parts);

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
