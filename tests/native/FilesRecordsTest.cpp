// What Java cannot see of the file layer: the exact bytes of change records
// and the Windows error codes of failed opens.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

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
  const std::vector<uint8_t> expected = {
      20, 0, 0, 0, 4, 0, 0, 0, 6, 0, 0, 0, 'd', 0, '/', 0, 0xE9, 0, 0, 0,          // padded to 20
      0, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE,                  // last: offset 0
  };
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 36), expected);
  EXPECT_EQ(out[36], 0xEE) << "nothing past the records";

  // Only whole records: 30 bytes hold the first alone, 8 bytes none.
  EXPECT_EQ(WriteRecords(changes, out.data(), 30, &taken), 20u);
  EXPECT_EQ(taken, 1u);
  EXPECT_EQ(out[0], 0) << "the only record is the last";
  EXPECT_EQ(WriteRecords(changes, out.data(), 8, &taken), 0u);
  EXPECT_EQ(taken, 0u);
}

TEST(FileCreate, FailuresCarryTheWindowsErrorCodes) {
  char folder[] = "/tmp/qv-files-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::wstring base(folder, folder + sizeof(folder) - 1);
  const std::wstring existing = base + L"/existing";
  HANDLE made = CreateFileW(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(made, INVALID_HANDLE_VALUE);
  struct Row {
    std::wstring path;
    DWORD access, share, disposition, flags, error;
  } rows[] = {
      {base + L"/missing", GENERIC_READ, 7, OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
      {base + L"/no/such", GENERIC_READ, 7, OPEN_ALWAYS, 0, ERROR_PATH_NOT_FOUND},
      {existing, GENERIC_READ, 7, CREATE_NEW, 0, ERROR_FILE_EXISTS},
      {existing, GENERIC_READ, 7, OPEN_EXISTING, 0, ERROR_SHARING_VIOLATION},  // `made` shares nothing
      {existing, GENERIC_READ, 7, TRUNCATE_EXISTING, 0, ERROR_INVALID_PARAMETER},
      {base, GENERIC_READ, 7, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
  };
  for (const Row& row : rows) {
    SetLastError(0);
    EXPECT_EQ(CreateFileW(row.path.c_str(), row.access, row.share, nullptr, row.disposition, row.flags, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), row.error) << std::string(row.path.begin(), row.path.end()) << " " << row.disposition;
  }
  ASSERT_TRUE(CloseHandle(made));
  HANDLE again = CreateFileW(existing.c_str(), GENERIC_READ, 7, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(again);
  std::system(("rm -rf " + std::string(folder)).c_str());
}
