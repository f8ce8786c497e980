// Code-page and time conversions with the Windows contracts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Win32Api.h"

// The last error when the call failed (answered 0 or FALSE), 0 when it did not.
static long ErrorOf(bool failed) { return failed ? static_cast<long>(GetLastError()) : 0; }

// "Y-M-D H:M:S.ms dN": N the day of the week.
static std::string Text(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d.%d d%d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return text;
}

TEST(PropsCodePages, MultiByteToWideCharCountsBuffersAndFailsLikeWindows) {
  // Each row converts `length` bytes (-1: up to the terminator) into a buffer of `room` units (0: only counts).
  const struct {
    const char* what;
    UINT cp;
    DWORD flags;
    const char* text;
    int length, room, expected;
    long error;
    const wchar_t* out;
  } rows[] = {
      {"-1 counts the terminator", CP_UTF8, 0, "caf\xC3\xA9", -1, 0, 5, 0, nullptr},
      {"counted", CP_UTF8, 0, "caf\xC3\xA9", 5, 0, 4, 0, nullptr},
      {"converted", CP_UTF8, 0, "caf\xC3\xA9", -1, 8, 5, 0, L"caf\u00e9"},
      {"buffer too small", CP_UTF8, 0, "caf\xC3\xA9", -1, 4, 0, ERROR_INSUFFICIENT_BUFFER, nullptr},
      {"no input", CP_UTF8, 0, "caf\xC3\xA9", 0, 8, 0, ERROR_INVALID_PARAMETER, nullptr},
      {"flags UTF-8 takes none of", CP_UTF8, MB_PRECOMPOSED, "caf\xC3\xA9", -1, 8, 0, ERROR_INVALID_FLAGS, nullptr},
      {"invalid UTF-8 replaced", CP_UTF8, 0, "a\xFF" "b", 3, 8, 3, 0, L"a\xFFFD" L"b"},
      {"invalid UTF-8 refused", CP_UTF8, MB_ERR_INVALID_CHARS, "a\xFF", 2, 8, 0, ERROR_NO_UNICODE_TRANSLATION, {}},
      {"1252 with MB_PRECOMPOSED", 1252, MB_PRECOMPOSED, "\x80", 1, 8, 1, 0, L"\u20ac"},
      {"UTF-16 is no multi-byte code page", 1200, 0, "a", 1, 8, 0, ERROR_INVALID_PARAMETER, nullptr},
      // ASCII takes a path of its own.
      {"ASCII counted", 1252, 0, "abc", -1, 0, 4, 0, nullptr},
      {"ASCII buffer too small", 1252, 0, "abc", -1, 3, 0, ERROR_INSUFFICIENT_BUFFER, nullptr},
      {"ASCII filling the buffer", CP_UTF8, 0, "abc", 3, 3, 3, 0, L"abc"},
      // A text left shifted into JIS X 0208 does not shift the next one.
      {"shifted into JIS X 0208", 50220, 0, "\x1b$B\x30\x21", 5, 8, 1, 0, nullptr},
      {"the next text unshifted", 50220, 0, "AB", 2, 8, 2, 0, L"AB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    wchar_t out[8] = {};
    SetLastError(0);
    const int got = MultiByteToWideChar(row.cp, row.flags, row.text, row.length, row.room ? out : nullptr, row.room);
    EXPECT_EQ(row.expected, got);
    EXPECT_EQ(row.error, ErrorOf(got == 0));
    if (row.out) EXPECT_EQ(std::wstring(row.out), std::wstring(out, got - (row.length < 0)));
  }
  // 1252, its undefined bytes included, round-trips every byte.
  for (int b = 1; b < 256; ++b) {
    const char in[2] = {static_cast<char>(b), 0};
    wchar_t wide[2];
    ASSERT_EQ(1, MultiByteToWideChar(1252, 0, in, 1, wide, 2)) << b;
    char back[4];
    ASSERT_EQ(1, WideCharToMultiByte(1252, 0, wide, 1, back, 4, nullptr, nullptr)) << b;
    EXPECT_EQ(in[0], back[0]) << b;
  }
}

TEST(PropsCodePages, WideCharToMultiByteReportsReplacementsLikeWindows) {
  char out[16];
  BOOL usedDefault = FALSE;
  ASSERT_EQ(4, WideCharToMultiByte(1252, 0, L"a\u4e2db", -1, out, sizeof out, nullptr, &usedDefault));
  EXPECT_STREQ("a?b", out);
  EXPECT_TRUE(usedDefault);
  ASSERT_EQ(3, WideCharToMultiByte(1252, 0, L"a\u4e2db", 3, out, sizeof out, "#", &usedDefault));
  EXPECT_EQ(std::string("a#b"), std::string(out, 3));
  EXPECT_EQ(ERROR_INVALID_PARAMETER,
            ErrorOf(WideCharToMultiByte(CP_UTF8, 0, L"a", -1, out, sizeof out, nullptr, &usedDefault) == 0))
      << "UTF-8 takes no default character";
  ASSERT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, L"\U0001F600", -1, out, sizeof out, nullptr, nullptr));
  EXPECT_STREQ("\xF0\x9F\x98\x80", out);
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER,
            ErrorOf(WideCharToMultiByte(CP_UTF8, 0, L"\U0001F600", -1, out, 2, nullptr, nullptr) == 0));
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), 0};
  EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, ErrorOf(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out,
                                                                      sizeof out, nullptr, nullptr) == 0));
  ASSERT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, sizeof out, nullptr, nullptr));
  EXPECT_STREQ("a\xEF\xBF\xBD", out);
  EXPECT_TRUE(GetACP() == CP_UTF8 || IsValidCodePage(GetACP()));
}

TEST(PropsTime, FileTimeAndSystemTimeConvertAndRefuseLikeWindows) {
  SYSTEMTIME st{};
  FILETIME ft{0, 0};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ("1601-1-1 0:0:0.0 d1", Text(st));  // a Monday
  // 2004-03-05 07:08:09.750 UTC, a Friday.
  const SYSTEMTIME when = {2004, 3, 0, 5, 7, 8, 9, 750};
  ASSERT_TRUE(SystemTimeToFileTime(&when, &ft));
  const uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  EXPECT_EQ(uint64_t(1078470489750) * 10000 + 116444736000000000ull, ticks);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ("2004-3-5 7:8:9.750 d5", Text(st));
  // 2000-02-29 exists, 1900-02-29 does not.
  SYSTEMTIME leap = {2000, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
  leap.wYear = 1900;
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ErrorOf(!SystemTimeToFileTime(&leap, &ft)));
  for (SYSTEMTIME bad : {SYSTEMTIME{1600, 12, 0, 31, 0, 0, 0, 0}, SYSTEMTIME{2000, 13, 0, 1, 0, 0, 0, 0},
                         SYSTEMTIME{2000, 4, 0, 31, 0, 0, 0, 0}, SYSTEMTIME{2000, 1, 0, 1, 24, 0, 0, 0},
                         SYSTEMTIME{2000, 1, 0, 1, 0, 60, 0, 0}, SYSTEMTIME{2000, 1, 0, 1, 0, 0, 0, 1000},
                         SYSTEMTIME{30828, 1, 0, 1, 0, 0, 0, 0}})
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << bad.wYear << "-" << bad.wMonth;
  FILETIME top = {0, 0x80000000u};
  EXPECT_FALSE(FileTimeToSystemTime(&top, &st)) << "the top bit is refused";
  FILETIME last = {0xFFFFFFFFu, 0x7FFFFFFFu};
  ASSERT_TRUE(FileTimeToSystemTime(&last, &st));
  EXPECT_EQ("30828-9-14 2:48:5.477 d4", Text(st));
}
