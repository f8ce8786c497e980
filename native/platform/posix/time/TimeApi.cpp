#include "TimeApi.h"

#include <time.h>

#include "../text/CodePages.h"
#include "../base/WinError.h"

namespace {

constexpr uint64_t kTicksPerMillisecond = 10000;
constexpr uint64_t kTicksPerSecond = 1000 * kTicksPerMillisecond;
constexpr uint64_t kSecondsPerDay = 86400;
// Days from 0000-03-01 (proleptic Gregorian) to 1601-01-01.
constexpr int64_t kEpochDays1601 = 719468 - 134774;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// Days since 0000-03-01 of a civil date (month 1..12).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = y / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe);
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  const int64_t era = z / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

BOOL Refuse() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  if (!lpFileTime || !lpSystemTime) return Refuse();
  const uint64_t ticks = (static_cast<uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
  if (ticks & 0x8000000000000000ull) return Refuse();
  const uint64_t seconds = ticks / kTicksPerSecond;
  const uint64_t days = seconds / kSecondsPerDay;
  const uint64_t secondOfDay = seconds % kSecondsPerDay;
  int64_t year;
  unsigned month, day;
  CivilFromDays(kEpochDays1601 + static_cast<int64_t>(days), year, month, day);
  lpSystemTime->wYear = static_cast<WORD>(year);
  lpSystemTime->wMonth = static_cast<WORD>(month);
  lpSystemTime->wDay = static_cast<WORD>(day);
  lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  lpSystemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  lpSystemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  lpSystemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  lpSystemTime->wMilliseconds = static_cast<WORD>(ticks % kTicksPerSecond / kTicksPerMillisecond);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
  if (!lpSystemTime || !lpFileTime) return Refuse();
  const SYSTEMTIME& st = *lpSystemTime;
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 ||
      st.wMilliseconds > 999)
    return Refuse();
  const uint64_t days = static_cast<uint64_t>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kEpochDays1601);
  const uint64_t seconds = days * kSecondsPerDay + st.wHour * 3600u + st.wMinute * 60u + st.wSecond;
  const uint64_t ticks = seconds * kTicksPerSecond + st.wMilliseconds * kTicksPerMillisecond;
  lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
  if (!lpSystemTimeAsFileTime) return;
  // Seconds from 1601-01-01 to the Unix epoch.
  constexpr uint64_t kUnixEpochSeconds = 11644473600ull;
  timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t ticks = (static_cast<uint64_t>(now.tv_sec) + kUnixEpochSeconds) * kTicksPerSecond +
                         static_cast<uint64_t>(now.tv_nsec) / 100;
  lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
