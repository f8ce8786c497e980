// File calls while another process keeps swapping the file's name with a link to another file: each works on the
// one file the name meant when it was resolved, never partly on the other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/text/FileSystemText.h"

namespace {

using settings_test::TempFolder;
using settings_test::WriteBytes;

mode_t ModeOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0;
}

// Read-only takes the write bits from whichever file the name meant at that moment, never one file's mode
// written onto the other.
TEST(FileNameSwap, ReadOnlyNeverCarriesOneFilesModeToAnother) {
  constexpr int kRuns = 20000;
  TempFolder dir;
  WriteBytes(dir.File("f"), "F");
  WriteBytes(dir.File("victim"), "V");
  ASSERT_EQ(symlink("victim", dir.File("alt").c_str()), 0);
  const int file = open(dir.File("f").c_str(), O_RDONLY), victim = open(dir.File("victim").c_str(), O_RDONLY);
  ASSERT_TRUE(file >= 0 && victim >= 0);
  const std::string a = dir.File("f"), b = dir.File("alt");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  const std::wstring name = quorvane::posix::WideFromFileSystemText(a);
  int mixed = 0;
  for (int run = 0; run < kRuns; ++run) {
    fchmod(file, 0640);
    fchmod(victim, 0604);
    SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY);
    const mode_t f = ModeOf(file), v = ModeOf(victim);
    mixed += !((f == 0640 || f == 0440) && (v == 0604 || v == 0404));
  }
  stop = true;
  swapper.join();
  close(file);
  close(victim);
  EXPECT_EQ(mixed, 0) << "of " << kRuns << " calls";
}

// Created over an existing file without write access: the truncation is of the file the handle holds.
TEST(FileNameSwap, CreateAlwaysTruncatesTheFileItOpened) {
  constexpr int kRuns = 20000;
  TempFolder dir;
  WriteBytes(dir.File("f"), "F");
  WriteBytes(dir.File("victim"), "V");
  ASSERT_EQ(symlink("victim", dir.File("alt").c_str()), 0);
  const int file = open(dir.File("f").c_str(), O_RDWR), victim = open(dir.File("victim").c_str(), O_RDWR);
  ASSERT_TRUE(file >= 0 && victim >= 0);
  const std::string a = dir.File("f"), b = dir.File("alt");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  const std::wstring name = quorvane::posix::WideFromFileSystemText(a);
  int wrong = 0;
  for (int run = 0; run < kRuns; ++run) {
    (void)!pwrite(file, "F", 1, 0);
    (void)!pwrite(victim, "V", 1, 0);
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, 7, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    char byte;
    DWORD got = 0;
    wrong += ReadFile(handle, &byte, 1, &got, nullptr) && got != 0;
    CloseHandle(handle);
  }
  stop = true;
  swapper.join();
  close(file);
  close(victim);
  EXPECT_EQ(wrong, 0) << "of " << kRuns << " handles still held data after CREATE_ALWAYS";
}

}  // namespace
