// The usage text of reg and of each of its operations (reg /?, reg QUERY /?).
#pragma once

#include <string>

namespace regtool {

// The usage of `operation` (upper-case: QUERY, ADD...; empty for reg
// itself); empty when there is no such operation.
std::string Usage(const std::wstring& operation);

}  // namespace regtool
