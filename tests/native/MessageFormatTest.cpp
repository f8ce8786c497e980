// The message-format convention: inserts with printf formats, escapes, inserts the caller did not give.
#include <gtest/gtest.h>

#include <cctype>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

#include "Logger.h"
#include "MessageFormatter.h"
#include "Win32Api.h"
#ifndef _WIN32
#  include "posix/text/SystemMessages.h"
#endif

using quorvane::FormatMessageText;
using quorvane::LogInsert;

namespace {

template <typename... T>
std::wstring Format(const wchar_t* format, const T&... inserts) {
  const DWORD_PTR values[] = {LogInsert(inserts)..., 0};
  std::wstring out;
  DWORD error = 0;
  if (!FormatMessageText(format, values, sizeof...(T), out, &error)) return L"<error " + std::to_wstring(error) + L">";
  return out;
}

TEST(MessageFormat, InsertFormatsEscapesTwoDigitAndMissingInsertsAndTheLogLine) {
  EXPECT_EQ(L"abc", Format(L"%1", L"abc"));
  EXPECT_EQ(L"-5", Format(L"%1!d!", -5));
  EXPECT_EQ(L"07", Format(L"%1!02d!", 7));
  EXPECT_EQ(L"2024", Format(L"%1!02d!", 2024)) << "the width is a minimum";
  EXPECT_EQ(L"-07", Format(L"%1!03d!", -7));
  EXPECT_EQ(L"INFO |", Format(L"%1!-5s!|", L"INFO"));
  EXPECT_EQ(L"WARNAUDIBLE|", Format(L"%1!-5s!|", L"WARNAUDIBLE"));
  EXPECT_EQ(L"  abc", Format(L"%1!5s!", L"abc"));
  EXPECT_EQ(L"ab", Format(L"%1!.2s!", L"abcdef"));
  EXPECT_EQ(L"80004005", Format(L"%1!x!", static_cast<HRESULT>(0x80004005)));
  EXPECT_EQ(L"0x00ff", Format(L"%1!#06x!", 255));
  EXPECT_EQ(L"4294967295", Format(L"%1!u!", 0xFFFFFFFFu));
  EXPECT_EQ(L"-1", Format(L"%1!d!", 0xFFFFFFFFu)) << "%d reads 32 bits";
  EXPECT_EQ(L"+5", Format(L"%1!+d!", 5));
  EXPECT_EQ(L"A", Format(L"%1!c!", static_cast<int>(L'A')));
  EXPECT_EQ(L"B", Format(L"%1!C!", static_cast<int>('B'))) << "a narrow character";
  EXPECT_EQ(L"  Bi", Format(L"%1!*.*s!", 4, 2, L"Bill")) << "width and precision from %1 and %2";
  EXPECT_EQ(L"Bi  |", Format(L"%1!*.*s!|", -4, 2, L"Bill"));
  EXPECT_EQ(L"(null)", Format(L"%1", static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(L"b a", Format(L"%2 %1", L"a", L"b"));
  EXPECT_EQ(L"aa", Format(L"%1%1", L"a"));
  // Escapes.
  EXPECT_EQ(L"100%", Format(L"100%%"));
  EXPECT_EQ(L"a\r\nb", Format(L"a%nb"));
  EXPECT_EQ(L"a", Format(L"a%0b%1", L"x")) << "%0 ends the message";
  EXPECT_EQ(L". ! \t  \r x", Format(L"%. %! %t % %r %x"));
  EXPECT_EQ(L"<error 87>", Format(L"end%")) << "a lone '%' at the end is refused";
  EXPECT_EQ(L"a\r\nb\r\n", Format(L"a\nb\r\n")) << "a bare LF is written CR LF, CR LF stays";
  EXPECT_EQ(L"%1", Format(L"%%1", L"x"));
  // The log line's own format.
  const DWORD_PTR values[] = {LogInsert(2007),    LogInsert(3),         LogInsert(5),  LogInsert(9),
                              LogInsert(5),       LogInsert(3),         LogInsert(7),  LogInsert(L"INFO"),
                              LogInsert(1234),    LogInsert(5678),      LogInsert(L"C:\\app\\host.exe"),
                              LogInsert(L"text")};
  std::wstring line;
  ASSERT_TRUE(FormatMessageText(
      L"%1!02d!.%2!02d!.%3!02d! %4!02d!:%5!02d!:%6!02d!.%7!03d! %8!-5s! [%9!d!:%10!d!] %11 - %12", values, 12, line));
  EXPECT_EQ(L"2007.03.05 09:05:03.007 INFO  [1234:5678] C:\\app\\host.exe - text", line);
  // Two-digit inserts, and inserts beyond those given.
  std::vector<std::wstring> texts(12);
  std::vector<DWORD_PTR> inserts;
  for (int i = 0; i < 12; ++i) inserts.push_back(LogInsert(texts[i] = L"v" + std::to_wstring(i + 1)));
  std::wstring out;
  ASSERT_TRUE(FormatMessageText(L"%10 %11 %12 %100 %1!s!0", inserts.data(), inserts.size(), out));
  EXPECT_EQ(L"v10 v11 v12 v100 v10", out) << "at most two digits";
  // Inserts not given stay text.
  EXPECT_EQ(L"a %2 %3!d!", Format(L"%1 %2 %3!d!", L"a"));
  EXPECT_EQ(L"%1", Format(L"%1"));
  EXPECT_EQ(L"%1!*s!", Format(L"%1!*s!", 5)) << "the '*' needs a second slot";
  EXPECT_EQ(L"%1!d", Format(L"%1!d", 5)) << "an unterminated format";
  EXPECT_EQ(L"%1!d b %3", Format(L"%1!d %2 %3", L"a", L"b")) << "the text after it is still scanned";
  EXPECT_EQ(L"%9!:a", Format(L"%9!:%1!s!", L"a")) << "a missing insert's format is plain text";
  EXPECT_TRUE(FormatMessageText(L"%1 %2", nullptr, 5, out)) << "no array means no inserts";
  EXPECT_EQ(L"%1 %2", out);
  // Long messages keep every insert.
  const std::wstring run(3000, L'x');
  EXPECT_EQ(run + L"|a|%3|" + run + L"|7", Format((run + L"|%1|%3|" + run + L"|%2!d!").c_str(), L"a", 7))
      << "text beyond the first buffer, a missing insert between long runs";
  EXPECT_EQ(run + L"|" + run, Format(L"%1|%2", run.c_str(), run.c_str()));
}

TEST(MessageFormat, FloatsAndUnboundedWidthsAreRefused) {
  for (const wchar_t* format : {L"%1!f!", L"%1!n!", L"%1!5!", L"%1!99999999s!"})
    EXPECT_EQ(L"<error 87>", Format(format, L"x")) << format;
}

TEST(MessageFormat, NarrowAndWideTextAndSizes) {
  const char narrow[] = "narrow";
  const DWORD_PTR values[] = {reinterpret_cast<DWORD_PTR>(narrow), reinterpret_cast<DWORD_PTR>(L"wide"),
                              static_cast<DWORD_PTR>(-2)};
  std::wstring out;
  ASSERT_TRUE(FormatMessageText(L"%1!S! %1!hs! %2!ls! %2!ws! %3!hd! %3!hu!", values, 3, out));
  EXPECT_EQ(L"narrow narrow wide wide -2 65534", out);
  if (sizeof(DWORD_PTR) < 8) {
    // 32-bit Windows: "I64" reads two slots, so the third insert has no high half.
    ASSERT_TRUE(FormatMessageText(L"%3!I64d!", values, 3, out));
    EXPECT_EQ(L"%3!I64d!", out);
    return;
  }
  ASSERT_TRUE(FormatMessageText(L"%3!I64d! %3!lld!", values, 3, out));
  EXPECT_EQ(L"-2 -2", out);
}

// The system's message table: the texts differ between Windows and ours, their shape does not.
std::wstring SystemMessage(DWORD id, const wchar_t* insert = L"<insert>") {
  const DWORD_PTR values[] = {reinterpret_cast<DWORD_PTR>(insert), reinterpret_cast<DWORD_PTR>(L""),
                              reinterpret_cast<DWORD_PTR>(L"")};
  LPWSTR text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     nullptr, id, 0, reinterpret_cast<LPWSTR>(&text), 0,
                     reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(values)));
  std::wstring out = length ? std::wstring(text, length) : L"<error " + std::to_wstring(GetLastError()) + L">";
  LocalFree(text);
  return out;
}

TEST(FormatMessageW, SystemTable) {
  for (DWORD id : {0u, 2u, 5u, 87u, 1726u, 0x80004005u}) {
    const std::wstring text = SystemMessage(id);
    ASSERT_GE(text.size(), 4u) << id << ": " << std::string(text.begin(), text.end());
    EXPECT_EQ(L".\r\n", text.substr(text.size() - 3)) << id;
  }
  EXPECT_NE(std::wstring::npos, SystemMessage(193).find(L"<insert>")) << "%1 takes the insert";
  EXPECT_EQ(SystemMessage(5), SystemMessage(0x80070005u)) << "FACILITY_WIN32 reads as the Win32 code";
  EXPECT_EQ(L"<error 317>", SystemMessage(0x7FFFFFFF));
}

TEST(FormatMessageW, StorageErrorsHaveTexts) {
  EXPECT_NE(std::wstring::npos, SystemMessage(0x80030002u).find(L"<insert>")) << "STG_E_FILENOTFOUND's text";
}

// Our Linux FormatMessageW; on Windows the system's (with its message table).
#ifndef _WIN32
// Whether every word but a few small ones starts as a word of the constant's name does ("Printq full.").
bool SpellsOutItsName(const char* name, const std::wstring& text) {
  std::string nameWords = " ", textWords;
  for (const char* c = name; *c; ++c) nameWords += *c == '_' ? ' ' : static_cast<char>(std::tolower(*c));
  for (wchar_t c : text) textWords += std::iswalnum(c) ? static_cast<char>(std::towlower(c)) : ' ';
  std::istringstream words(textWords);
  for (std::string word; words >> word;)
    if (std::string(" a an the of is not to ").find(" " + word + " ") == std::string::npos &&
        nameWords.find(" " + word.substr(0, 3)) == std::string::npos)
      return false;
  return true;
}

TEST(FormatMessageW, SystemTablesSortedAndEndingAsWindowsTexts) {
  using namespace quorvane::posix;
  for (const auto& table : {std::make_pair(kWin32Messages, kWin32MessageCount),
                            std::make_pair(kHResultMessages, kHResultMessageCount)}) {
    for (size_t i = 0; i < table.second; ++i) {
      const std::wstring text = table.first[i].text;
      EXPECT_TRUE(i == 0 || table.first[i - 1].id < table.first[i].id) << table.first[i].name;
      EXPECT_TRUE(text.size() > 3 && text.compare(text.size() - 3, 3, L".\r\n") == 0) << table.first[i].name;
      EXPECT_EQ(std::wstring::npos, text.find(L"  ")) << table.first[i].name;
      EXPECT_FALSE(SpellsOutItsName(table.first[i].name, text)) << table.first[i].name;
    }
  }
  EXPECT_NE(L"<error 317>", SystemMessage(12029)) << "WinInet's codes";
}

TEST(FormatMessageW, BufferAndFlags) {
  wchar_t small[4];
  const DWORD_PTR values[] = {LogInsert(L"abcdef")};
  SetLastError(0);
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, L"%1", 0, 0, small, 4,
                               reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(values))));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

  wchar_t buffer[64];
  EXPECT_EQ(10u, FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, L"%1!d! %2 %%", 0, 0,
                                buffer, 64, nullptr));
  EXPECT_STREQ(L"%1!d! %2 %", buffer) << "inserts pass through unchanged";

  EXPECT_EQ(8u, FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_MAX_WIDTH_MASK, L"a\r\nb\nc%nd", 0, 0,
                               buffer, 64, nullptr));
  EXPECT_STREQ(L"a b c\r\nd", buffer) << "regular breaks joined, %n kept";

  LPWSTR allocated = nullptr;
  EXPECT_EQ(0u, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 0x7FFFFFFF, 0,
                               reinterpret_cast<LPWSTR>(&allocated), 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, allocated);

  const DWORD_PTR number[] = {LogInsert(42)};
  EXPECT_EQ(3u, FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                   FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               L"x%1!d!", 0, 0, reinterpret_cast<LPWSTR>(&allocated), 0,
                               reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(number))));
  ASSERT_NE(nullptr, allocated);
  EXPECT_STREQ(L"x42", allocated);
  LocalFree(allocated);
}
#endif

}  // namespace
