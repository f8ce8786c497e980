// Numbers written into and read from documents as text. The text form is
// fixed ('.' as the decimal point, no grouping) whatever the locale of the
// process: the C library's number functions follow LC_NUMERIC, which a JVM
// takes from the user's environment, and a "1,2" written under de_DE would
// no longer read back anywhere. Stateless; safe from any thread.
#pragma once

#include <string>

namespace quorvane {

// 7 significant digits, shortest general form (printf's %.7g in the C locale).
std::wstring FormatFloat(float value);

// The whole text as a float: trailing white space allowed, leading white space
// not. False for anything else, and for a value out of the float's range.
bool ParseFloat(const std::wstring& text, float& value);

// Plain decimal digits (no sign) as a 32-bit signed integer; false when the
// text is not such digits or the value does not fit.
bool ParseDecimalInt(const std::wstring& text, int& value);

}  // namespace quorvane
