// What Java cannot see of the file layer: change records' exact bytes, what a
// watch reports around overflows and lagging reads, failed opens' error codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/files/ChangeRecords.h"
#include "posix/files/DirectoryWatch.h"

using quorvane::posix::files::Change;
using quorvane::posix::files::DirectoryWatch;
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

namespace {

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

std::set<int> InotifyDescriptors() {
  std::set<int> fds;
  std::error_code ignored;  // the iterator's own descriptor is gone when its link is read
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    if (std::filesystem::read_symlink(entry.path(), ignored) == "anon_inode:inotify")
      fds.insert(std::stoi(entry.path().filename().string()));
  return fds;
}

// A folder handle with its watch started (by a first call, which returns on the first of the names "start<n>" made
// until one is seen). Each call runs on a thread of its own: one that never returns closes the handle.
class WatchedFolder {
 public:
  WatchedFolder(const std::string& path, bool subtree) : subtree_(subtree) {
    handle_ = CreateFileW(settings_test::Wide(path).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    auto first = std::async(std::launch::async, [this] { return Call(65536); });
    for (int i = 0; first.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready; ++i)
      Touch(path + "/start" + std::to_string(i));
    first.get();
  }
  ~WatchedFolder() {
    if (!closed_) CloseHandle(handle_);
  }

  // One call's records as "action name", the start names left out; "rescan" for TRUE with 0 bytes.
  std::vector<std::string> Read(DWORD length = 65536) {
    auto call = std::async(std::launch::async, [this, length] { return Call(length); });
    if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) closed_ = CloseHandle(handle_);
    return call.get();
  }
  // Calls until the records include `last`.
  std::vector<std::string> ReadUntil(const std::string& last, DWORD length = 65536) {
    std::vector<std::string> seen;
    while (std::find(seen.begin(), seen.end(), last) == seen.end()) {
      const std::vector<std::string> more = Read(length);
      if (more == std::vector<std::string>{"failed"}) return seen;
      seen.insert(seen.end(), more.begin(), more.end());
    }
    return seen;
  }

 private:
  std::vector<std::string> Call(DWORD length) {
    std::vector<uint8_t> buffer(length);
    DWORD got = 0;
    if (!ReadDirectoryChangesW(handle_, buffer.data(), length, subtree_,
                               FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, &got, nullptr, nullptr))
      return {"failed"};
    if (got == 0) return {"rescan"};
    std::vector<std::string> records;
    for (DWORD at = 0;;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer.data() + at);
      const std::string name(record->FileName, record->FileName + record->FileNameLength / 2);
      if (name.compare(0, 5, "start") != 0) records.push_back(std::to_string(record->Action) + " " + name);
      if (record->NextEntryOffset == 0) return records;
      at += record->NextEntryOffset;
    }
  }

  HANDLE handle_;
  const bool subtree_;
  bool closed_ = false;
};

// More name events than inotify's queue holds, made while no call reads.
void OverflowQueue(const std::string& folder) {
  std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
  int events = 16384;
  limit >> events;
  for (int i = 0; i <= events / 2; ++i) {
    Touch(folder + "/flood");
    unlink((folder + "/flood").c_str());
  }
}

// A folder's watch whose inotify descriptor is swapped for a pipe the test writes events into: the kernel never ends a
// read between a rename's halves, nor queues another thread's change between them, on demand.
class InjectedWatch {
 public:
  explicit InjectedWatch(const std::string& root) : InjectedWatch(root, InotifyDescriptors()) {}
  ~InjectedWatch() {
    close(pipe_[0]);
    close(pipe_[1]);
  }
  bool Ready() const { return ready_; }
  // Events of the folder's watch (a new instance's first: 1) as the kernel lays them out, names padded to 16 bytes.
  void Send(const std::vector<std::tuple<uint32_t, uint32_t, std::string>>& events) {
    std::string bytes;
    for (const auto& [mask, cookie, name] : events) {
      const inotify_event event{1, mask, cookie, 16};
      bytes.append(reinterpret_cast<const char*>(&event), sizeof(event));
      bytes.append(name).append(16 - name.size(), '\0');
    }
    ASSERT_EQ(write(pipe_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  int Unread() const {
    int unread = 0;
    return ioctl(pipe_[0], FIONREAD, &unread) == 0 ? unread : 0;
  }

  WatchedFolder watch;

 private:
  InjectedWatch(const std::string& root, const std::set<int>& before) : watch(root, false) {
    std::set<int> ours = InotifyDescriptors();
    for (int fd : before) ours.erase(fd);
    ready_ = ours.size() == 1 && pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) == 0 && dup2(pipe_[0], *ours.begin()) >= 0;
  }

  int pipe_[2] = {-1, -1};
  bool ready_ = false;
};

}  // namespace

TEST(FileChangeWatch, NothingIsLostAroundOverflowsListingsAndRenames) {
  using Records = std::vector<std::string>;
  const struct {
    const char* what;
    std::function<Records(const std::string& root, const settings_test::TempFolder& outside)> run;
    Records expected;
  } rows[] = {
      {"after the rescan answer the watches follow the tree as it is",
       [](const std::string& root, const settings_test::TempFolder& outside) {
         for (const char* name : {"/old", "/gone", "/away"}) mkdir((root + name).c_str(), 0755);
         WatchedFolder watch(root, true);
         OverflowQueue(root);
         rename((root + "/old").c_str(), (root + "/renamed").c_str());
         rmdir((root + "/gone").c_str());
         rename((root + "/away").c_str(), outside.File("away").c_str());
         mkdir((root + "/made").c_str(), 0755);
         mkdir((root + "/made/deeper").c_str(), 0755);
         for (int calls = 0; calls < 1000 && watch.Read() != Records{"rescan"}; ++calls) {
         }
         Touch(outside.File("away/x"));
         for (const char* name : {"renamed/x", "made/y", "made/deeper/z", "end"}) Touch(root + "/" + name);
         return watch.ReadUntil("1 end");
       },
       {"1 renamed/x", "1 made/y", "1 made/deeper/z", "1 end"}},
      {"a folder moved out and another moved in are REMOVED and ADDED; only the one in is followed",
       [](const std::string& root, const settings_test::TempFolder& outside) {
         mkdir((root + "/a").c_str(), 0755);
         mkdir(outside.File("b").c_str(), 0755);
         WatchedFolder watch(root, true);
         rename((root + "/a").c_str(), outside.File("a").c_str());
         rename(outside.File("b").c_str(), (root + "/b").c_str());
         Touch(outside.File("a/made-outside-later"));
         Touch(root + "/b/made-inside");
         Touch(root + "/end");
         Records seen = watch.ReadUntil("1 end");
         Touch(outside.File("a/later-still"));
         Touch(root + "/b/later");
         const Records more = watch.ReadUntil("1 b/later");
         seen.insert(seen.end(), more.begin(), more.end());
         return seen;
       },
       {"2 a", "1 b", "1 b/made-inside", "1 end", "1 b/later"}},
      {"what is made in a folder at once after it moved in is ADDED, at any depth",
       [](const std::string& root, const settings_test::TempFolder& outside) {
         mkdir(outside.File("c").c_str(), 0755);
         mkdir(outside.File("c/deep").c_str(), 0755);
         WatchedFolder watch(root, true);
         rename(outside.File("c").c_str(), (root + "/c").c_str());
         Touch(root + "/c/new");
         Touch(root + "/c/deep/newer");
         Touch(root + "/end");
         Records seen = watch.ReadUntil("1 end");
         std::sort(seen.begin(), seen.end());  // a listing comes in the folder's order
         return seen;
       },
       {"1 c", "1 c/deep", "1 c/deep/newer", "1 c/new", "1 end"}},
      {"a folder swapped for a link to one outside before its new folder's watch is made takes no watch out",
       [](const std::string& root, const settings_test::TempFolder& outside) {
         mkdir(outside.File("y").c_str(), 0755);
         Touch(outside.File("y/secret"));
         WatchedFolder watch(root, true);
         mkdir((root + "/x").c_str(), 0755);
         Records seen = watch.ReadUntil("1 x");
         // y's creation is read once x is a link to the outside folder that holds another y.
         mkdir((root + "/x/y").c_str(), 0755);
         rename((root + "/x").c_str(), (root + "/x-old").c_str());
         symlink(outside.Path().c_str(), (root + "/x").c_str());
         Touch(root + "/end");
         Records more = watch.ReadUntil("1 end");
         seen.insert(seen.end(), more.begin(), more.end());
         Touch(outside.File("y/later"));
         Touch(root + "/x-old/y/later");
         more = watch.ReadUntil("1 x-old/y/later");
         seen.insert(seen.end(), more.begin(), more.end());
         return seen;
       },
       {"1 x", "1 x/y", "4 x", "5 x-old", "1 x", "1 end", "1 x-old/y/later"}},
      {"a listed file made again or replaced by a rename while the reader lags is ADDED again",
       [](const std::string& root, const settings_test::TempFolder& outside) {
         WatchedFolder watch(root, true);
         // n/f and m/h are made before their folders' watches exist; the
         // 64-byte calls leave m/h pending, inotify's queue not read to its end.
         for (const char* name : {"/n", "/m"}) mkdir((root + name).c_str(), 0755);
         for (const char* name : {"/n/f", "/m/h"}) Touch(root + name);
         Records seen = watch.Read(64);
         unlink((root + "/n/f").c_str());
         Touch(root + "/n/f");
         Touch(outside.File("h"));
         rename(outside.File("h").c_str(), (root + "/m/h").c_str());
         Touch(root + "/end");
         const Records more = watch.ReadUntil("1 end", 64);
         seen.insert(seen.end(), more.begin(), more.end());
         return seen;
       },
       {"1 n", "1 n/f", "1 m", "1 m/h", "2 n/f", "1 n/f", "1 m/h", "1 end"}},
      {"a rename whose halves come in two reads is one pair",
       [](const std::string& root, const settings_test::TempFolder&) {
         InjectedWatch injected(root);
         Records first{"no inotify descriptor"};
         // The second half comes 2 ms after the first was taken; a run where
         // it came later than the watch waits says nothing and is made again.
         for (uint32_t cookie = 1; injected.Ready() && cookie <= 3; ++cookie) {
           const auto begin = std::chrono::steady_clock::now();
           injected.Send({{IN_MOVED_FROM, cookie, "a"}});
           auto call = std::async(std::launch::async, [&injected] { return injected.watch.Read(); });
           for (int i = 0; i < 100000 && injected.Unread() > 0; ++i)
             std::this_thread::sleep_for(std::chrono::microseconds(100));
           std::this_thread::sleep_for(std::chrono::milliseconds(2));
           injected.Send({{IN_MOVED_TO, cookie, "b"}});
           const auto late = std::chrono::steady_clock::now() - begin;
           first = call.get();
           if (first == Records{"4 a", "5 b"} || late < std::chrono::milliseconds(DirectoryWatch::kMovePartnerMs))
             break;
           injected.watch.ReadUntil("1 b");
         }
         return first;
       },
       {"4 a", "5 b"}},
      {"another change between a rename's halves goes ahead of the pair, one about the held name after it",
       [](const std::string& root, const settings_test::TempFolder&) {
         InjectedWatch injected(root);
         if (!injected.Ready()) return Records{"no inotify descriptor"};
         injected.Send({{IN_MOVED_FROM, 1, "a"}, {IN_CREATE, 0, "c"}, {IN_MOVED_TO, 1, "b"},
                        {IN_MOVED_FROM, 2, "d"}, {IN_CREATE, 0, "d"}});
         return injected.watch.Read();
       },
       {"1 c", "4 a", "5 b", "2 d", "1 d"}},
  };
  for (const auto& row : rows) {
    settings_test::TempFolder folder, outside;
    EXPECT_EQ(row.run(folder.Path(), outside), row.expected) << row.what;
  }
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
