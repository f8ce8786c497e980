// The settings file lies under USERPROFILE, else under "C:\Documents and Settings\" + USERNAME.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "PropertiesFile.h"
#include "SettingsTestSupport.h"

namespace {

TEST(SettingsPathWin, DataFolderFromUserProfileOrUserName) {
  struct Case {
    std::optional<std::string> profile, user;
    const wchar_t* name;
    int capacity;
    const wchar_t* expected;  // null: no path
  };
  const Case cases[] = {
      {"C:\\Users\\u", "ignored", L"ai.config", 260, L"C:\\Users\\u\\Application Data\\Quorvane\\data\\ai.config"},
      {std::nullopt, "bob", L"ai.config", 260,
       L"C:\\Documents and Settings\\bob\\Application Data\\Quorvane\\data\\ai.config"},
      {"", "bob", nullptr, 260, L"C:\\Documents and Settings\\bob\\Application Data\\Quorvane\\data\\ais.config"},
      {std::nullopt, std::nullopt, L"ai.config", 260, nullptr},
      {"C:\\\xC3\xA9t\xC3\xA9", std::nullopt, L"", 260,
       L"C:\\\u00e9t\u00e9\\Application Data\\Quorvane\\data\\ais.config"},
      // "C:\p" (4) + "\Application Data\Quorvane\data\" (32) + "n" = 37 characters: 38 fit, 37 do not.
      {"C:\\p", std::nullopt, L"n", 38, L"C:\\p\\Application Data\\Quorvane\\data\\n"},
      {"C:\\p", std::nullopt, L"n", 37, nullptr},
  };
  for (const Case& c : cases) {
    settings_test::ScopedVariable profile("USERPROFILE", c.profile), user("USERNAME", c.user);
    wchar_t buffer[300];
    EXPECT_EQ(c.expected ? c.expected : L"<no path>",
              std::wstring(GetSettingsFilePath(buffer, c.capacity, c.name) ? buffer : L"<no path>"))
        << c.profile.value_or("<unset>") << " / " << c.user.value_or("<unset>");
  }
}

}  // namespace
