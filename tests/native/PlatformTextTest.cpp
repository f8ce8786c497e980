#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "Win32Api.h"

TEST(StringCchPrintfA, FitsCutsAndRefusesLikeWindows) {
  char buf[16];
  EXPECT_EQ(S_OK, StringCchPrintfA(buf, sizeof buf, "%s: 0x%X", "msg", 0xBEEFu));
  EXPECT_STREQ("msg: 0xBEEF", buf);

  // Exactly capacity - 1 characters fit.
  EXPECT_EQ(S_OK, StringCchPrintfA(buf, 6, "%s", "12345"));
  EXPECT_STREQ("12345", buf);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, StringCchPrintfA(buf, 6, "%s", "123456"));
  EXPECT_STREQ("12345", buf);

  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(static_cast<HRESULT>(0x80070057u), StringCchPrintfA(buf, 0, "%s", "a"));
  EXPECT_EQ('x', buf[0]) << "capacity 0 writes nothing";
  EXPECT_EQ(static_cast<HRESULT>(0x80070057u), StringCchPrintfA(buf, size_t(STRSAFE_MAX_CCH) + 1, "%s", "a"));
}

// Names match ignoring case by one rule, whatever the process's locale: the C locale knows no case beyond ASCII.
TEST(lstrcmpiW, FoldsCaseAlikeInEveryLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  struct Row {
    const wchar_t* a;
    const wchar_t* b;
    int sign;
  };
  const Row rows[] = {{L"notepad.EXE", L"NOTEPAD.exe", 0}, {L"\u00e4rger", L"\u00c4RGER", 0},
                      {L"\u03a9mega", L"\u03c9MEGA", 0}, {L"a", L"b", -1}, {L"\u00e4", L"a", 1}, {L"ab", L"a", 1},
                      {nullptr, L"", -1}, {nullptr, nullptr, 0}};
#ifdef _WIN32
  const char* const locales[] = {"C"};  // the CRT's locale never reaches lstrcmpiW there
#else
  const char* const locales[] = {"C", "C.UTF-8"};
#endif
  for (const char* locale : locales) {
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, locale));
    for (const Row& row : rows) {
      const int result = lstrcmpiW(row.a, row.b);
      EXPECT_EQ(row.sign, (result > 0) - (result < 0)) << locale << " " << (row.a ? row.a : L"(null)");
    }
  }
  std::setlocale(LC_ALL, before.c_str());
}
