#include "DateTime.h"

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>

#include "ExceptionReport.h"

namespace quorvane {

namespace {
const uint64_t kTicksPerDay = 864000000000ull;  // 100 ns ticks
const boost::gregorian::date kFileTimeEpoch(1601, boost::gregorian::Jan, 1);
const boost::gregorian::date kLastDate(9999, boost::gregorian::Dec, 31);
}  // namespace

SYSTEMTIME ToSystemTime(const boost::posix_time::ptime& pt) {
  CHECK(invalid_argument, !pt.is_not_a_date_time());
  CHECK(invalid_argument, !pt.is_special());

  const boost::gregorian::date day = pt.date();
  const boost::posix_time::time_duration time = pt.time_of_day();
  SYSTEMTIME result = {};
  result.wYear = static_cast<WORD>(day.year());
  result.wMonth = static_cast<WORD>(day.month().as_number());
  result.wDay = static_cast<WORD>(day.day());
  result.wDayOfWeek = 0;
  result.wHour = static_cast<WORD>(time.hours());
  result.wMinute = static_cast<WORD>(time.minutes() % 60);
  result.wSecond = static_cast<WORD>(time.seconds() % 60);
  const int64_t fraction = time.total_microseconds() % 1000000;
  result.wMilliseconds = static_cast<WORD>(fraction / 1000);
  return result;
}

boost::posix_time::ptime FromFileTime(const FILETIME& fileTime) {
  const uint64_t ticks = (static_cast<uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  const uint64_t days = ticks / kTicksPerDay;
  const uint64_t rest = ticks % kTicksPerDay;
  if (days > static_cast<uint64_t>((kLastDate - kFileTimeEpoch).days()))
    RAISE("FILETIME beyond the year 9999");
  return boost::posix_time::ptime(kFileTimeEpoch + boost::gregorian::days(static_cast<long>(days)),
                                  boost::posix_time::microseconds(static_cast<int64_t>(rest / 10)));
}

boost::posix_time::ptime WholeMilliseconds(const boost::posix_time::ptime& pt) {
  if (pt.is_special()) return pt;
  const int64_t ticksPerMillisecond = boost::posix_time::time_duration::ticks_per_second() / 1000;
  const int64_t below = pt.time_of_day().fractional_seconds() % ticksPerMillisecond;
  return pt - boost::posix_time::time_duration(0, 0, 0, below);
}

}  // namespace quorvane
