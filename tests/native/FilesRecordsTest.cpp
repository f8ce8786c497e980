// What Java cannot see of the file layer: change records' exact bytes, failed opens' error codes.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <tuple>
#include <vector>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/files/ChangeRecords.h"

using quorvane::posix::files::Change;
using quorvane::posix::files::Utf16FromFileSystemText;
using quorvane::posix::files::WriteRecords;

TEST(FileChangeRecords, AreLaidOutAsWindowsLaysThemOut) {
  // "é" is two UTF-8 bytes and one UTF-16 unit; U+1F600 is a surrogate pair.
  const std::deque<Change> changes = {{FILE_ACTION_RENAMED_OLD_NAME, Utf16FromFileSystemText("d/\xC3\xA9")},
                                      {FILE_ACTION_ADDED, Utf16FromFileSystemText("\xF0\x9F\x98\x80")}};
  std::vector<uint8_t> out(64, 0xEE);
  size_t taken = 0;
  ASSERT_EQ(WriteRecords(changes, out.data(), out.size(), &taken), 36u);
  EXPECT_EQ(taken, 2u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 37), (std::vector<uint8_t>{
      20, 0, 0, 0, 4, 0, 0, 0, 6, 0, 0, 0, 'd', 0, '/', 0, 0xE9, 0, 0, 0,  // padded to 20
      0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE,          // last: offset 0
      0xEE}));                                                             // nothing past the records

  // Only whole records: 30 bytes hold the first alone, 8 bytes none.
  EXPECT_EQ(WriteRecords(changes, out.data(), 30, &taken), 20u);
  EXPECT_EQ(taken, 1u);
  EXPECT_EQ(out[0], 0) << "the only record is the last";
  EXPECT_EQ(WriteRecords(changes, out.data(), 8, &taken), 0u);
  EXPECT_EQ(taken, 0u);
}

TEST(FileCreate, FailuresCarryTheWindowsErrorCodes) {
  settings_test::TempFolder folder;
  const std::wstring base = settings_test::Wide(folder.Path());
  const std::wstring existing = base + L"/existing";
  HANDLE made = CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  // Read access, sharing all.
  const std::tuple<std::wstring, DWORD, DWORD> rows[] = {
      {base + L"/missing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {base + L"/no/such", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
      {existing, CREATE_NEW, ERROR_FILE_EXISTS},
      {existing, OPEN_EXISTING, ERROR_SHARING_VIOLATION},  // `made` shares nothing
      {existing, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
      {base, OPEN_EXISTING, ERROR_ACCESS_DENIED},
  };
  for (const auto& [path, disposition, error] : rows) {
    SetLastError(0);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 7, nullptr, disposition, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), error) << std::string(path.begin(), path.end()) << " " << disposition;
  }
  ASSERT_TRUE(CloseHandle(made));
  HANDLE again = CreateFileW(existing.c_str(), GENERIC_READ, 7, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(again);
}
