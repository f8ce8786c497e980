#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstring>

#include "DateTime.h"
#include "NarrowText.h"
#include "PropertyTestSets.h"
#include "util.h"

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using quorvane::FromFileTime;
using quorvane::ToSystemTime;

namespace {
FILETIME Ticks(unsigned long long ticks) { return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }
// 2004-03-05T07:08:09.750 UTC in 100 ns ticks since 1601.
const unsigned long long kMarch2004 = 127229440897500000ull;
}  // namespace

TEST(DateTime, SystemTimeTruncatesToMillisecondsAndFileTimesConvertExactly) {
  const SYSTEMTIME st = ToSystemTime(time_from_string("1999-12-31 23:59:59.999999"));
  const SYSTEMTIME expected = {1999, 12, 0, 31, 23, 59, 59, 999};  // day of week left 0
  EXPECT_EQ(0, std::memcmp(&expected, &st, sizeof st));
  EXPECT_EQ("invalid_argument : !pt.is_not_a_date_time()",
            qvtest::Why<std::invalid_argument>([] { ToSystemTime(ptime(boost::posix_time::not_a_date_time)); }));
  EXPECT_THROW(ToSystemTime(ptime(boost::posix_time::pos_infin)), std::invalid_argument);
  EXPECT_THROW(ToSystemTime(ptime(boost::posix_time::neg_infin)), std::invalid_argument);
  // File times convert exactly over the whole date range.
  EXPECT_EQ(time_from_string("1601-01-01 00:00:00"), FromFileTime(Ticks(0)));
  EXPECT_EQ(time_from_string("1970-01-01 00:00:00"), FromFileTime(Ticks(116444736000000000ull)));
  EXPECT_EQ(time_from_string("2004-03-05 07:08:09.750"), FromFileTime(Ticks(kMarch2004)));
  // Sub-microsecond ticks are dropped; a 1601..1970 time is a real date.
  EXPECT_EQ(time_from_string("2004-03-05 07:08:09.750001"), FromFileTime(Ticks(kMarch2004 + 19)));
  EXPECT_EQ(time_from_string("1900-06-15 12:00:00"), FromFileTime(Ticks(94497840000000000ull)));
  EXPECT_EQ(time_from_string("9999-12-31 23:59:59.999999"), FromFileTime(Ticks(2650467743999999999ull)));
  EXPECT_THROW(FromFileTime(Ticks(2650467744000000000ull)), std::runtime_error);
  EXPECT_THROW(FromFileTime(Ticks(~0ull)), std::runtime_error);
  // As text for Java: to the second, nothing beyond SYSTEMTIME's range, cut to the buffer.
  char text[25];
  EXPECT_STREQ("2004-03-05T07:08:09", quorvane::FormatFileTime(Ticks(kMarch2004), text, sizeof text));
  EXPECT_STREQ("", quorvane::FormatFileTime(Ticks(0x8000000000000000ull), text, sizeof text));
  EXPECT_STREQ("2004", quorvane::FormatFileTime(Ticks(kMarch2004), text, 5));
}

TEST(NarrowText, ClassicLocaleIsLatin1WithAPilcrowForTheRest) {
  // One pilcrow per wchar_t: two for a surrogate pair where wchar_t is 16 bits.
  const std::string beyond(sizeof(wchar_t) == 2 ? 3 : 2, '\xB6');
  EXPECT_EQ("a\xE9\xFF" + beyond, quorvane::ToNarrow(L"a\u00E9\u00FF\u20AC\U0001F600"));
  EXPECT_EQ(std::string("x\0y", 3), quorvane::ToNarrow(std::wstring(L"x\0y", 3)));
  EXPECT_EQ(L"a\u00E9\u00FF\u00B6", quorvane::ToWide("a\xE9\xFF\xB6"));
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  EXPECT_EQ(allBytes, quorvane::ToNarrow(quorvane::ToWide(allBytes)));
}
