// FILETIME <-> SYSTEMTIME on Linux with the Windows validation: a FILETIME
// counts 100-nanosecond intervals since 1601-01-01 UTC; values with the top
// bit set are refused, as are calendar fields out of range.
#pragma once

#include "../base/WinTypes.h"

// FALSE with ERROR_INVALID_PARAMETER for a null pointer or a value above
// 0x7FFFFFFFFFFFFFFF. Fills every field, the day of the week included.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// FALSE with ERROR_INVALID_PARAMETER unless 1601 <= wYear <= 30827 and the
// month, day (for that month and year), hour, minute, second and millisecond
// are in range. wDayOfWeek is ignored.
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);

// The current time (CLOCK_REALTIME), UTC, to the 100-nanosecond tick.
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
