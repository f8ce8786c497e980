#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Utf16.h"
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

TEST(Utf16, SupplementaryCharactersAndLoneSurrogatesRoundTrip) {
  const std::u16string text = u"a\u00e9\u4e2d\U0001F600\xD800z\xDC00";
  const std::wstring wide = quorvane::WideFromUtf16(text.data(), text.size());
  if (sizeof(wchar_t) == 4) {
    ASSERT_EQ(7u, wide.size());
    EXPECT_EQ(static_cast<wchar_t>(0x1F600), wide[3]);
    EXPECT_EQ(static_cast<wchar_t>(0xD800), wide[4]);
  }
  EXPECT_EQ(text, quorvane::Utf16FromWide(wide));
}
