// Date-times of property sets: boost ptime <-> the platform's SYSTEMTIME and
// FILETIME (100 ns ticks since 1601-01-01, UTC). Stateless.
#pragma once

#include <boost/date_time/posix_time/ptime.hpp>

#include "Win32Api.h"

namespace quorvane {

// Refuses not-a-date-time and the infinities (std::invalid_argument).
// wDayOfWeek is 0; milliseconds are the microseconds truncated.
SYSTEMTIME ToSystemTime(const boost::posix_time::ptime& pt);

// Exact to the microsecond (sub-microsecond ticks are dropped). A FILETIME
// whose date lies beyond the year 9999 raises std::runtime_error.
boost::posix_time::ptime FromFileTime(const FILETIME& fileTime);

// The same date-time with the sub-millisecond part dropped, the precision of a
// SYSTEMTIME; special values pass unchanged.
boost::posix_time::ptime WholeMilliseconds(const boost::posix_time::ptime& pt);

}  // namespace quorvane
