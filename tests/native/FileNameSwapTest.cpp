// File calls while another thread keeps swapping the file's name with a link to another file: each works on the
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

// How many of 20,000 calls of `call` went wrong while another thread kept swapping the name `dir`/a with a link
// `dir`/alt to `dir`/victim (files or folders, made by the caller).
int WrongCallsWhileTheNameSwaps(const TempFolder& dir, const std::function<bool()>& call) {
  const std::string a = dir.File("a"), b = dir.File("alt");
  EXPECT_EQ(symlink("victim", b.c_str()), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
  });
  int wrong = 0;
  for (int run = 0; run < 20000; ++run) wrong += call();
  stop = true;
  swapper.join();
  return wrong;
}

// Read-only takes the write bits from whichever file the name meant, never one file's mode written onto the other;
// created over an existing file without write access, the truncation is of the file the handle holds.
TEST(FileNameSwap, ReadOnlyAndCreateAlwaysActOnTheFileTheNameMeant) {
  const struct {
    const char* wrong;
    int flags;
    std::function<bool(const std::wstring&, int, int)> call;
  } rows[] = {
      {"calls that mixed the two files' modes", O_RDONLY,
       [](const std::wstring& name, int file, int victim) {
         fchmod(file, 0640);
         fchmod(victim, 0604);
         SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY);
         const mode_t f = ModeOf(file), v = ModeOf(victim);
         return !((f == 0640 || f == 0440) && (v == 0604 || v == 0404));
       }},
      {"handles that still held data after CREATE_ALWAYS", O_RDWR,
       [](const std::wstring& name, int file, int victim) {
         (void)!pwrite(file, "F", 1, 0);
         (void)!pwrite(victim, "V", 1, 0);
         HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, 7, nullptr, CREATE_ALWAYS, 0, nullptr);
         if (handle == INVALID_HANDLE_VALUE) return false;
         char byte;
         DWORD got = 0;
         const bool held = ReadFile(handle, &byte, 1, &got, nullptr) && got != 0;
         CloseHandle(handle);
         return held;
       }},
  };
  for (const auto& row : rows) {
    TempFolder dir;
    WriteBytes(dir.File("a"), "F");
    WriteBytes(dir.File("victim"), "V");
    const int file = open(dir.File("a").c_str(), row.flags), victim = open(dir.File("victim").c_str(), row.flags);
    ASSERT_TRUE(file >= 0 && victim >= 0);
    const std::wstring name = quorvane::posix::WideFromFileSystemText(dir.File("a"));
    EXPECT_EQ(0, WrongCallsWhileTheNameSwaps(dir, [&] { return row.call(name, file, victim); }))
        << row.wrong << ", of 20,000";
    close(file);
    close(victim);
  }
}

// Delete-on-close removes the file the handle holds through the folder it was made in: a folder on the way,
// swapped for a link to another folder holding the same name, never loses that folder's file.
TEST(FileNameSwap, DeleteOnCloseRemovesOnlyTheFileItMade) {
  TempFolder dir;
  ASSERT_EQ(0, mkdir(dir.File("a").c_str(), 0755));
  ASSERT_EQ(0, mkdir(dir.File("victim").c_str(), 0755));
  const std::string victimFile = dir.File("victim/f");
  const std::wstring name = quorvane::posix::WideFromFileSystemText(dir.File("a/f"));
  int made = 0;
  const int lost = WrongCallsWhileTheNameSwaps(dir, [&] {
    WriteBytes(victimFile, "V");
    // CREATE_NEW fails while the name leads to the victim's file: a handle here holds a file of its own.
    HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, 7, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ++made;
    CloseHandle(handle);
    return access(victimFile.c_str(), F_OK) != 0;
  });
  // Each file made is removed at close, so the next run can make it again.
  EXPECT_GT(made, 1000) << "files made and removed at close, of 20,000 tries";
  EXPECT_EQ(0, lost) << "of " << made << " closed handles removed the other folder's file";
  struct stat st;
  const std::string real = lstat(dir.File("a").c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? "a" : "alt";
  EXPECT_NE(0, access(dir.File(real + "/f").c_str(), F_OK)) << "the last file made is gone too";
}

}  // namespace
