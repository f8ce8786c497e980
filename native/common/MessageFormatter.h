// Message texts in the Windows message-format convention (FormatMessageW
// with an argument array): "%1", "%2!x!", "%8!-5s!", "%%", "%n", ...
#pragma once

#include <string>

#include "Win32Api.h"

namespace quorvane {

// Formats `format` with `count` inserts (one DWORD_PTR each: a wide-string
// pointer or an integer). FormatMessageW itself cannot know how many inserts
// it was given; here an insert that the format names beyond `count`
// (counting the extra slots its '*' widths take) is written out as its own
// text ("%3", "%3!d!") and never read. Text substituted for an insert is not
// scanned again. False when FormatMessageW refuses the format (a malformed
// insert format), with its error code in *error when asked.
bool FormatMessageText(LPCWSTR format, const DWORD_PTR* inserts, size_t count, std::wstring& out,
                       DWORD* error = nullptr);

}  // namespace quorvane
