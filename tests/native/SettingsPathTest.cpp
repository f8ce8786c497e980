// Where the settings file lies on Linux: $XDG_DATA_HOME or
// $HOME/.local/share, then "/Quorvane/data/", within the caller's capacity.
#include <gtest/gtest.h>

#include <string>

#include "PropertiesFile.h"
#include "SettingsTestSupport.h"

using settings_test::ScopedVariable;

namespace {

std::wstring PathFor(const wchar_t* name, int capacity = 260, bool* ok = nullptr) {
  wchar_t buffer[600];
  const bool built = GetSettingsFilePath(buffer, capacity, name);
  if (ok) *ok = built;
  return built ? buffer : L"<false>";
}

TEST(SettingsPath, DataFolderFromXdgDataHomeOrHome) {
  struct Case {
    std::optional<std::string> xdg, home;
    const wchar_t* expected;  // null: no path
    const char* why;
  };
  const Case cases[] = {
      {"/x/data", "/home/u", L"/x/data/Quorvane/data/ai.config", "XDG_DATA_HOME first"},
      {std::nullopt, "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "then HOME"},
      {"", "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "empty is unset"},
      {"relative/data", "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "a relative value is ignored"},
      {"/x/", "/home/u", L"/x//Quorvane/data/ai.config", "no separator is removed"},
      {std::nullopt, std::nullopt, nullptr, "no folder at all"},
      {"/d/\xC3\xA9", std::nullopt, L"/d/\u00e9/Quorvane/data/ai.config", "UTF-8 in the environment"},
  };
  for (const Case& c : cases) {
    ScopedVariable xdg("XDG_DATA_HOME", c.xdg);
    ScopedVariable home("HOME", c.home);
    bool ok = true;
    const std::wstring path = PathFor(L"ai.config", 260, &ok);
    EXPECT_EQ(c.expected != nullptr, ok) << c.why;
    if (c.expected) EXPECT_EQ(c.expected, path) << c.why;
  }
}

TEST(SettingsPath, DefaultNameAndBadArguments) {
  ScopedVariable xdg("XDG_DATA_HOME", std::string("/x"));
  EXPECT_EQ(L"/x/Quorvane/data/ais.config", PathFor(nullptr));
  EXPECT_EQ(L"/x/Quorvane/data/ais.config", PathFor(L""));
  wchar_t buffer[10];
  EXPECT_FALSE(GetSettingsFilePath(nullptr, 260, L"a"));
  EXPECT_FALSE(GetSettingsFilePath(buffer, 0, L"a"));
  EXPECT_FALSE(GetSettingsFilePath(buffer, -1, L"a"));
}

TEST(SettingsPath, PathMustBeShorterThanTheCapacity) {
  // "/" + padding + "/Quorvane/data/" (15) + "n" (1): 259 characters in all.
  const std::string folder = "/" + std::string(259 - 15 - 1 - 1, 'p');
  ScopedVariable xdg("XDG_DATA_HOME", folder);
  bool ok = false;
  const std::wstring path = PathFor(L"n", 260, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(259u, path.size());
  PathFor(L"nn", 260, &ok);
  EXPECT_FALSE(ok) << "260 characters do not fit in 260";
  PathFor(L"n", 259, &ok);
  EXPECT_FALSE(ok);

  ScopedVariable longFolder("XDG_DATA_HOME", "/" + std::string(300, 'q'));
  PathFor(L"n", 260, &ok);
  EXPECT_FALSE(ok) << "a folder longer than the capacity";
  PathFor(L"n", 600, &ok);
  EXPECT_TRUE(ok);
}

TEST(SettingsPath, HomeCountsWithItsSuffix) {
  ScopedVariable xdg("XDG_DATA_HOME", std::nullopt);
  // HOME + "/.local/share" (13) + "/Quorvane/data/" (15) + "n" = 259.
  ScopedVariable home("HOME", "/" + std::string(259 - 13 - 15 - 1 - 1, 'h'));
  bool ok = false;
  EXPECT_EQ(259u, PathFor(L"n", 260, &ok).size());
  EXPECT_TRUE(ok);
  PathFor(L"nn", 260, &ok);
  EXPECT_FALSE(ok);
}

}  // namespace
