// File calls while another process keeps swapping the file's name with a link to another file: each works on the
// one file the name meant when it was resolved, never partly on the other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
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

// How many of 20,000 calls of `call` went wrong while another thread kept swapping the name of file "f" with a
// link "alt" to file "victim"; `call` gets the name and a descriptor of each file, opened with `flags`.
int WrongCallsWhileTheNameSwaps(int flags, const std::function<bool(const std::wstring&, int, int)>& call) {
  TempFolder dir;
  WriteBytes(dir.File("f"), "F");
  WriteBytes(dir.File("victim"), "V");
  EXPECT_EQ(symlink("victim", dir.File("alt").c_str()), 0);
  const int file = open(dir.File("f").c_str(), flags), victim = open(dir.File("victim").c_str(), flags);
  EXPECT_TRUE(file >= 0 && victim >= 0);
  const std::string a = dir.File("f"), b = dir.File("alt");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  const std::wstring name = quorvane::posix::WideFromFileSystemText(a);
  int wrong = 0;
  for (int run = 0; run < 20000; ++run) wrong += call(name, file, victim);
  stop = true;
  swapper.join();
  close(file);
  close(victim);
  return wrong;
}

// Read-only takes the write bits from whichever file the name meant at that moment, never one file's mode
// written onto the other.
TEST(FileNameSwap, ReadOnlyNeverCarriesOneFilesModeToAnother) {
  EXPECT_EQ(0, WrongCallsWhileTheNameSwaps(O_RDONLY, [](const std::wstring& name, int file, int victim) {
    fchmod(file, 0640);
    fchmod(victim, 0604);
    SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY);
    const mode_t f = ModeOf(file), v = ModeOf(victim);
    return !((f == 0640 || f == 0440) && (v == 0604 || v == 0404));
  })) << "calls of 20,000 that mixed the two files' modes";
}

// Created over an existing file without write access: the truncation is of the file the handle holds.
TEST(FileNameSwap, CreateAlwaysTruncatesTheFileItOpened) {
  EXPECT_EQ(0, WrongCallsWhileTheNameSwaps(O_RDWR, [](const std::wstring& name, int file, int victim) {
    (void)!pwrite(file, "F", 1, 0);
    (void)!pwrite(victim, "V", 1, 0);
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, 7, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    char byte;
    DWORD got = 0;
    const bool held = ReadFile(handle, &byte, 1, &got, nullptr) && got != 0;
    CloseHandle(handle);
    return held;
  })) << "handles of 20,000 that still held data after CREATE_ALWAYS";
}

// Delete-on-close removes the file the handle holds through the folder it was made in: a folder on the way,
// swapped for a link to another folder holding the same name, never loses that folder's file.
TEST(FileNameSwap, DeleteOnCloseRemovesOnlyTheFileItMade) {
  TempFolder dir;
  ASSERT_EQ(0, mkdir(dir.File("d").c_str(), 0755));
  ASSERT_EQ(0, mkdir(dir.File("victim").c_str(), 0755));
  ASSERT_EQ(0, symlink("victim", dir.File("alt").c_str()));
  const std::string a = dir.File("d"), b = dir.File("alt"), victimFile = dir.File("victim/f");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  const std::wstring name = quorvane::posix::WideFromFileSystemText(dir.File("d/f"));
  int lost = 0, made = 0;
  for (int run = 0; run < 20000; ++run) {
    WriteBytes(victimFile, "V");
    // CREATE_NEW fails while the name leads to the victim's file: a handle here holds a file of its own.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, 7, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    ++made;
    CloseHandle(handle);
    lost += access(victimFile.c_str(), F_OK) != 0;
  }
  stop = true;
  swapper.join();
  // Each file made is removed at close, so the next run can make it again.
  EXPECT_GT(made, 1000) << "files made and removed at close, of 20,000 tries";
  EXPECT_EQ(0, lost) << "of " << made << " closed handles removed the other folder's file";
  struct stat st;
  const std::string real = lstat(a.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? a : b;
  EXPECT_NE(0, access((real + "/f").c_str(), F_OK)) << "the last file made is gone too";
}

}  // namespace
