// The settings file on Linux: $XDG_DATA_HOME or $HOME/.local/share, then "/Quorvane/data/", within capacity.
#include <gtest/gtest.h>

#include <string>

#include "PropertiesFile.h"
#include "SettingsTestSupport.h"

using settings_test::ScopedVariable;

namespace {

// The path built, or "<false>".
std::wstring PathFor(const wchar_t* name, int capacity = 260) {
  wchar_t buffer[600];
  return GetSettingsFilePath(buffer, capacity, name) ? buffer : L"<false>";
}

TEST(SettingsPath, DataFolderDefaultNameBadArgumentsAndCapacity) {
  const struct {
    std::optional<std::string> xdg, home;
    const wchar_t* expected;
    const char* why;
  } cases[] = {
      {"/x/data", "/home/u", L"/x/data/Quorvane/data/ai.config", "XDG_DATA_HOME first"},
      {std::nullopt, "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "then HOME"},
      {"", "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "empty is unset"},
      {"relative/data", "/home/u", L"/home/u/.local/share/Quorvane/data/ai.config", "a relative value is ignored"},
      {"/x/", "/home/u", L"/x//Quorvane/data/ai.config", "no separator is removed"},
      {std::nullopt, std::nullopt, L"<false>", "no folder at all"},
      {"/d/\xC3\xA9", std::nullopt, L"/d/\u00e9/Quorvane/data/ai.config", "UTF-8 in the environment"},
  };
  for (const auto& c : cases) {
    ScopedVariable xdg("XDG_DATA_HOME", c.xdg), home("HOME", c.home);
    EXPECT_EQ(c.expected, PathFor(L"ai.config")) << c.why;
  }
  ScopedVariable xdg("XDG_DATA_HOME", std::string("/x"));
  EXPECT_EQ(L"/x/Quorvane/data/ais.config", PathFor(nullptr));
  EXPECT_EQ(L"/x/Quorvane/data/ais.config", PathFor(L""));
  wchar_t buffer[10];
  EXPECT_FALSE(GetSettingsFilePath(nullptr, 260, L"a"));
  EXPECT_FALSE(GetSettingsFilePath(buffer, 0, L"a"));
  EXPECT_FALSE(GetSettingsFilePath(buffer, -1, L"a"));
  // Path and terminator must fit: folder + "/Quorvane/data/" (15) + "n" is 259 (HOME adds "/.local/share").
  const std::string xdg259 = "/" + std::string(259 - 15 - 1 - 1, 'p');
  const std::string home259 = "/" + std::string(259 - 13 - 15 - 1 - 1, 'h');
  const std::string xdgLong = "/" + std::string(300, 'q');
  const struct {
    std::optional<std::string> xdg, home;
    const wchar_t* name;
    int capacity;
    size_t length;  // 0: no path
  } lengths[] = {
      {xdg259, std::nullopt, L"n", 260, 259},  {xdg259, std::nullopt, L"nn", 260, 0},
      {xdg259, std::nullopt, L"n", 259, 0},    {xdgLong, std::nullopt, L"n", 260, 0},
      {xdgLong, std::nullopt, L"n", 600, 317}, {std::nullopt, home259, L"n", 260, 259},
      {std::nullopt, home259, L"nn", 260, 0},
  };
  for (const auto& c : lengths) {
    ScopedVariable xdg("XDG_DATA_HOME", c.xdg), home("HOME", c.home);
    const std::wstring path = PathFor(c.name, c.capacity);
    EXPECT_EQ(c.length, path == L"<false>" ? 0 : path.size()) << (c.xdg ? "XDG " : "HOME ") << c.capacity;
  }
}

}  // namespace
