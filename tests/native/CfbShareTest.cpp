// Share modes and the single-writer lock among openers in one process and
// across processes, a foreign program's whole-file lock, and readers that
// run while a writer updates.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "CfbTestSupport.h"
#include "posix/StorageApi.h"
#include "posix/storage/cfb/StorageObject.h"

namespace {

using namespace cfbtest;

constexpr DWORD kSwmrRead = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;         // 0x00400040
constexpr DWORD kSwmrWrite = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;  // 0x00400022
constexpr DWORD kExclusive = STGM_SHARE_EXCLUSIVE | STGM_READWRITE;                      // 0x00000012

HRESULT OpenWith(const std::string& path, DWORD mode, IStorage** out) {
  const std::wstring wide(path.begin(), path.end());
  return StgOpenStorage(wide.c_str(), nullptr, mode, nullptr, 0, out);
}

// Opens, keeps the storage in `held` when it succeeds, returns the result.
struct Held {
  std::vector<IStorage*> storages;
  ~Held() { Clear(); }
  void Clear() {
    for (IStorage* s : storages) s->Release();
    storages.clear();
  }
  HRESULT Open(const std::string& path, DWORD mode) {
    IStorage* storage = nullptr;
    const HRESULT hr = OpenWith(path, mode, &storage);
    if (SUCCEEDED(hr)) storages.push_back(storage);
    return hr;
  }
};

// A child process that runs `body` between two pipe handshakes: it signals
// once ready, then waits until the parent writes to let it finish.
class Child {
 public:
  explicit Child(std::function<int(int ready, int proceed)> body) {
    signal(SIGPIPE, SIG_IGN);  // the child may be gone before we tell it to finish
    if (pipe(ready_) != 0 || pipe(proceed_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready_[0]);
      close(proceed_[1]);
      _exit(body(ready_[1], proceed_[0]));
    }
    close(ready_[1]);
    close(proceed_[0]);
  }
  bool WaitReady() {
    char c;
    return read(ready_[0], &c, 1) == 1;
  }
  int Finish() {
    const char c = 'g';
    (void)!write(proceed_[1], &c, 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    close(ready_[0]);
    close(proceed_[1]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int ready_[2] = {-1, -1}, proceed_[2] = {-1, -1};
  pid_t pid_ = -1;
};

void Signal(int fd) {
  const char c = 'r';
  (void)!write(fd, &c, 1);
}
void Await(int fd) {
  char c;
  (void)!read(fd, &c, 1);
}

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000ull + ts.tv_nsec / 1000000;
}

TEST(CfbShare, ModesAmongOpenersOfOneProcess) {
  TempDir dir;
  const std::string path = CopyFixture("Office365BlankSample_v2507.doc", dir);
  Held held;
  ASSERT_EQ(held.Open(path, kExclusive), S_OK);
  EXPECT_EQ(held.Open(path, kSwmrRead), STG_E_SHAREVIOLATION);
  EXPECT_EQ(held.Open(path, STGM_READ | STGM_SHARE_DENY_NONE), STG_E_SHAREVIOLATION);
  EXPECT_EQ(held.Open(path, kExclusive), STG_E_SHAREVIOLATION);
  held.Clear();

  ASSERT_EQ(held.Open(path, STGM_READ | STGM_SHARE_DENY_WRITE), S_OK);
  EXPECT_EQ(held.Open(path, STGM_READ | STGM_SHARE_DENY_NONE), S_OK);
  EXPECT_EQ(held.Open(path, STGM_READWRITE | STGM_SHARE_DENY_WRITE), STG_E_SHAREVIOLATION);
  EXPECT_EQ(held.Open(path, kSwmrWrite), STG_E_SHAREVIOLATION);
  held.Clear();

  // Single-writer/multiple-reader openers share the file; ordinary exclusive
  // or deny-write openers do not.
  ASSERT_EQ(held.Open(path, kSwmrWrite), S_OK);
  EXPECT_EQ(held.Open(path, kSwmrWrite), S_OK);
  EXPECT_EQ(held.Open(path, kSwmrRead), S_OK);
  EXPECT_EQ(held.Open(path, kExclusive), STG_E_SHAREVIOLATION);
  EXPECT_EQ(held.Open(path, STGM_READ | STGM_SHARE_DENY_WRITE), STG_E_SHAREVIOLATION);
  held.Clear();
  EXPECT_EQ(held.Open(path, kExclusive), S_OK);
}

TEST(CfbShare, ExclusiveOpenInAnotherProcess) {
  TempDir dir;
  const std::string path = CopyFixture("report.xls", dir);
  Child child([&](int ready, int proceed) {
    IStorage* storage = nullptr;
    if (OpenWith(path, kExclusive, &storage) != S_OK) return 1;
    Signal(ready);
    Await(proceed);
    storage->Release();
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  Held held;
  EXPECT_EQ(held.Open(path, kSwmrRead), STG_E_SHAREVIOLATION);
  EXPECT_EQ(held.Open(path, kSwmrWrite), STG_E_SHAREVIOLATION);
  EXPECT_EQ(child.Finish(), 0);
  EXPECT_EQ(held.Open(path, kExclusive), S_OK);
}

// A program such as LibreOffice holding a classic whole-file write lock.
TEST(CfbShare, ForeignWholeFileLockAllowsOnlySharedReaders) {
  TempDir dir;
  const std::string path = CopyFixture("LibreOfficeBlankSample_v25.8.doc", dir);
  Child child([&](int ready, int proceed) {
    const int fd = open(path.c_str(), O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0) return 1;
    Signal(ready);
    Await(proceed);
    close(fd);
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  Held held;
  EXPECT_EQ(held.Open(path, kExclusive), STG_E_LOCKVIOLATION);
  EXPECT_EQ(held.Open(path, kSwmrWrite), STG_E_LOCKVIOLATION);
  ASSERT_EQ(held.Open(path, kSwmrRead), S_OK);
  std::vector<uint8_t> data;
  std::shared_ptr<cfb::CompoundFile> file;
  ASSERT_EQ(cfb::CompoundFile::Open(path, ReadOnly(), file), S_OK);
  EXPECT_EQ(file->ReadStream(u"WordDocument", data), S_OK);
  EXPECT_FALSE(data.empty());
  EXPECT_EQ(child.Finish(), 0);
}

// And the other way round: our writer makes the foreign whole-file lock fail.
TEST(CfbShare, OurWriterKeepsForeignLockersOut) {
  TempDir dir;
  const std::string path = CopyFixture("LibreOfficeBlankSample_v25.8.xls", dir);
  Held held;
  ASSERT_EQ(held.Open(path, kSwmrWrite), S_OK);
  Child child([&](int ready, int) {
    const int fd = open(path.c_str(), O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool locked = fcntl(fd, F_SETLK, &fl) == 0;
    Signal(ready);
    return locked ? 1 : 0;
  });
  ASSERT_TRUE(child.WaitReady());
  EXPECT_EQ(child.Finish(), 0);
}

TEST(CfbShare, WriterLockAcrossProcesses) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  Child child([&](int ready, int proceed) {
    IStorage* storage = nullptr;
    IDirectWriterLock* lock = nullptr;
    if (OpenWith(path, kSwmrWrite, &storage) != S_OK) return 1;
    if (storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)) != S_OK) return 2;
    if (lock->WaitForWriteAccess(0) != S_OK) return 3;
    Signal(ready);
    Await(proceed);
    usleep(600 * 1000);
    lock->ReleaseWriteAccess();
    lock->Release();
    storage->Release();
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  IStorage* storage = nullptr;
  ASSERT_EQ(OpenWith(path, kSwmrWrite, &storage), S_OK);
  IDirectWriterLock* lock = nullptr;
  ASSERT_EQ(storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)), S_OK);
  uint64_t start = NowMs();
  EXPECT_EQ(lock->WaitForWriteAccess(150), STG_E_INUSE);
  EXPECT_GE(NowMs() - start, 150u);
  EXPECT_EQ(lock->HaveWriteAccess(), S_FALSE);
  start = NowMs();
  std::thread finisher([&] { child.Finish(); });
  EXPECT_EQ(lock->WaitForWriteAccess(5000), S_OK);
  EXPECT_LT(NowMs() - start, 5000u);
  finisher.join();
  EXPECT_EQ(lock->HaveWriteAccess(), S_OK);
  EXPECT_EQ(lock->ReleaseWriteAccess(), S_OK);
  EXPECT_EQ(lock->HaveWriteAccess(), S_FALSE);
  lock->Release();
  storage->Release();
}

// A writer process rewrites a stream over and over, small and large in
// turn; a reader in this process always sees one whole version.
TEST(CfbShare, ReadersSeeOldOrNewNeverTorn) {
  TempDir dir;
  const std::string path = CopyFixture("Office365BlankSample_v2507.xls", dir);
  const std::vector<uint8_t> small = Pattern(300, 1), large = Pattern(5000, 2);
  {
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
    ASSERT_EQ(file->WriteStream(u"Set", small), S_OK);
  }
  Child child([&](int ready, int) {
    IStorage* storage = nullptr;
    if (OpenWith(path, kSwmrWrite, &storage) != S_OK) return 1;
    auto file = cfb::CompoundFileOf(storage);
    Signal(ready);
    for (int i = 0; i < 120; ++i) {
      if (file->WaitForWriteAccess(5000) != S_OK) return 2;
      if (file->WriteStream(u"Set", i % 2 ? small : large) != S_OK) return 3;
      if (file->WriteStream(i % 3 ? u"Extra" : u"Extra2", Pattern(i * 37 % 6000, 3)) != S_OK) return 4;
      if (file->DeleteStream(i % 3 ? u"Extra" : u"Extra2") != S_OK) return 5;
      file->ReleaseWriteAccess();
    }
    storage->Release();
    return 0;
  });
  ASSERT_TRUE(child.WaitReady());
  std::thread finisher;
  int status = -1;
  finisher = std::thread([&] { status = child.Finish(); });
  IStorage* storage = nullptr;
  ASSERT_EQ(OpenWith(path, kSwmrRead, &storage), S_OK);
  auto file = cfb::CompoundFileOf(storage);
  size_t reads = 0, bad = 0;
  const uint64_t start = NowMs();
  while (NowMs() - start < 1500) {
    std::vector<uint8_t> data;
    const HRESULT hr = file->ReadStream(u"Set", data);
    ++reads;
    if (hr != S_OK || (data != small && data != large)) ++bad;
  }
  finisher.join();
  storage->Release();
  EXPECT_EQ(status, 0);
  EXPECT_GT(reads, 50u);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(OlefileListing(path).size(), 4u);  // the workbook's three streams and "Set"
}

// Four writer processes take turns through the writer lock, each adding
// its own streams, while a reader process walks the file throughout.
TEST(CfbShare, WritersTakeTurnsReadersKeepReading) {
  TempDir dir;
  const std::string path = CopyFixture("LibreOfficeBlankSample_v25.8.doc", dir);
  constexpr int kWriters = 4, kWrites = 40;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kWrites; ++i) {
        IStorage* storage = nullptr;
        if (OpenWith(path, kSwmrWrite, &storage) != S_OK) _exit(1);
        auto file = cfb::CompoundFileOf(storage);
        if (file->WaitForWriteAccess(5000) != S_OK) _exit(2);
        const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
        if (file->WriteStream(Wide(name), Pattern(50 + i * 97, static_cast<uint8_t>(w))) != S_OK) _exit(3);
        if (storage->Commit(STGC_DEFAULT) != S_OK) _exit(4);
        storage->Release();  // gives up write access with the descriptor
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  const pid_t reader = fork();
  if (reader == 0) {
    for (int round = 0; round < 400; ++round) {
      std::vector<std::string> lines;
      if (EngineListing(path, lines) != S_OK) _exit(1);
      usleep(2000);
    }
    _exit(0);
  }
  for (pid_t pid : writers) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  }
  int status = 0;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::vector<std::string> lines;
  ASSERT_EQ(EngineListing(path, lines), S_OK);
  EXPECT_EQ(lines.size(), 6u + kWriters * kWrites);
  EXPECT_EQ(OlefileListing(path), lines);
}

}  // namespace
