#include <gtest/gtest.h>

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
