// Share modes and the writer lock within and across processes, foreign locks, readers during writes.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "CfbTestSupport.h"
#include "posix/storage/PropIdl.h"
#include "posix/storage/cfb/StorageObject.h"

namespace {

using namespace cfbtest;

constexpr DWORD kExclusive = STGM_SHARE_EXCLUSIVE | STGM_READWRITE;

HRESULT OpenWith(const std::string& path, DWORD mode, IStorage** out) {
  const std::wstring wide(path.begin(), path.end());
  return StgOpenStorage(wide.c_str(), nullptr, mode, nullptr, 0, out);
}

// Storages opened and kept until the end of the scope.
struct Held {
  std::vector<IStorage*> storages;
  ~Held() {
    for (IStorage* s : storages) s->Release();
  }
  HRESULT Open(const std::string& path, DWORD mode) {
    IStorage* storage = nullptr;
    const HRESULT hr = OpenWith(path, mode, &storage);
    if (SUCCEEDED(hr)) storages.push_back(storage);
    return hr;
  }
};

pid_t Fork(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The child's exit code, or -1 when it did not exit.
int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A classic whole-file write lock, as LibreOffice takes one: the descriptor, or -1.
int ForeignLock(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR);
  struct flock fl = {};  // from SEEK_SET 0, the whole file
  fl.l_type = F_WRLCK;
  if (fd >= 0 && fcntl(fd, F_SETLK, &fl) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A child holding what `take` takes (a storage, a lock) until Finish, then lingering; not Ready if it fails.
class Holder {
 public:
  explicit Holder(const std::function<bool()>& take, unsigned lingerMs = 0) {
    signal(SIGPIPE, SIG_IGN);  // the child may be gone before we tell it to finish
    if (pipe(ready_) != 0 || pipe(proceed_) != 0) return;
    pid_ = Fork([&] {
      char c = 'r';
      if (!take()) return 1;
      if (write(ready_[1], &c, 1) != 1 || read(proceed_[0], &c, 1) != 1) return 2;
      usleep(lingerMs * 1000);
      return 0;
    });
    close(ready_[1]);
    close(proceed_[0]);
  }
  ~Holder() { Finish(); }
  bool Ready() {
    char c;
    return read(ready_[0], &c, 1) == 1;
  }
  int Finish() {
    if (pid_ < 0) return -1;
    const char c = 'g';
    (void)!write(proceed_[1], &c, 1);
    close(ready_[0]);
    close(proceed_[1]);
    const int code = Wait(pid_);
    pid_ = -1;
    return code;
  }

 private:
  int ready_[2] = {-1, -1}, proceed_[2] = {-1, -1};
  pid_t pid_ = -1;
};

uint64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TEST(CfbShare, ModesAmongOpenersOfOneProcessOrHeldByAnother) {
  TempDir dir;
  const std::string path = CopyFixture("Office365BlankSample_v2507.doc", dir);
  constexpr DWORD kRead = STGM_READ | STGM_SHARE_DENY_NONE, kReadDenyWrite = STGM_READ | STGM_SHARE_DENY_WRITE;
  // A first opener, then others kept open in turn: single-writer openers share, exclusive ones do not.
  constexpr HRESULT kRefused = STG_E_SHAREVIOLATION;
  const std::pair<DWORD, std::vector<std::pair<DWORD, HRESULT>>> cases[] = {
      {kExclusive, {{kSwmrRead, kRefused}, {kRead, kRefused}, {kExclusive, kRefused}}},
      {kReadDenyWrite, {{kRead, S_OK}, {STGM_READWRITE | STGM_SHARE_DENY_WRITE, kRefused}, {kSwmrWrite, kRefused}}},
      {kSwmrWrite, {{kSwmrWrite, S_OK}, {kSwmrRead, S_OK}, {kExclusive, kRefused}, {kReadDenyWrite, kRefused}}},
  };
  for (const auto& [first, then] : cases) {
    Held held;
    ASSERT_EQ(held.Open(path, first), S_OK) << std::hex << first;
    for (const auto& [mode, expected] : then)
      EXPECT_EQ(held.Open(path, mode), expected) << std::hex << first << " then " << mode;
  }
  EXPECT_EQ(Held().Open(path, kExclusive), S_OK);
  // Another process's exclusive open or writer lock; a foreign whole-file lock lets readers in; ours keeps it out.
  const std::string libre = CopyFixture("LibreOfficeBlankSample_v25.8.doc", dir);
  {
    IStorage* storage = nullptr;
    Holder child([&] { return OpenWith(libre, kExclusive, &storage) == S_OK; });
    ASSERT_TRUE(child.Ready());
    Held held;
    EXPECT_EQ(held.Open(libre, kSwmrRead), STG_E_SHAREVIOLATION);
    EXPECT_EQ(held.Open(libre, kSwmrWrite), STG_E_SHAREVIOLATION);
    EXPECT_EQ(child.Finish(), 0);
    EXPECT_EQ(held.Open(libre, kExclusive), S_OK);
  }
  {
    Holder child([&] { return ForeignLock(libre) >= 0; });
    ASSERT_TRUE(child.Ready());
    Held held;
    EXPECT_EQ(held.Open(libre, kExclusive), STG_E_LOCKVIOLATION);
    EXPECT_EQ(held.Open(libre, kSwmrWrite), STG_E_LOCKVIOLATION);
    ASSERT_EQ(held.Open(libre, kSwmrRead), S_OK);
    EXPECT_FALSE(FixtureStream(libre, u"WordDocument").empty());
  }
  Held held;
  ASSERT_EQ(held.Open(libre, kSwmrWrite), S_OK);
  Holder child([&] { return ForeignLock(libre) < 0; });
  EXPECT_TRUE(child.Ready()) << "the foreign lock was granted";
  // Another process's writer lock, held until that process exits.
  const std::string custom = CopyFixture("2custom.doc", dir);
  Holder writer([&] { return (new UserSet)->Open(custom) == S_OK; }, 600);
  ASSERT_TRUE(writer.Ready());
  IStorage* storage = nullptr;
  ASSERT_EQ(OpenWith(custom, kSwmrWrite, &storage), S_OK);
  IDirectWriterLock* lock = nullptr;
  ASSERT_EQ(storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock)), S_OK);
  uint64_t start = NowMs();
  EXPECT_EQ(lock->WaitForWriteAccess(150), STG_E_INUSE);
  EXPECT_GE(NowMs() - start, 150u);
  EXPECT_EQ(lock->HaveWriteAccess(), S_FALSE);
  start = NowMs();
  std::thread finisher([&] { writer.Finish(); });
  EXPECT_EQ(lock->WaitForWriteAccess(5000), S_OK);
  EXPECT_LT(NowMs() - start, 5000u);
  finisher.join();
  EXPECT_EQ(lock->HaveWriteAccess(), S_OK);
  EXPECT_EQ(lock->ReleaseWriteAccess(), S_OK);
  EXPECT_EQ(lock->HaveWriteAccess(), S_FALSE);
  lock->Release();
  storage->Release();
}

std::wstring PropertyName(int writer, int i) { return L"w" + std::to_wstring(writer) + L"_" + std::to_wstring(i); }
std::string PropertyText(int writer, int i) { return "value " + std::to_string(writer * 1000 + i); }

// A writer process rewrites a stream, small and large in turn; the reader always sees one whole version.
TEST(CfbShare, ReadersSeeOldOrNewNeverTornWhileWritersTakeTurns) {
  TempDir dir;
  const std::string path = CopyFixture("Office365BlankSample_v2507.xls", dir);
  const std::vector<uint8_t> small = Pattern(300, 1), large = Pattern(5000, 2);
  {
    std::shared_ptr<cfb::CompoundFile> file;
    ASSERT_EQ(cfb::CompoundFile::Open(path, ReadWriteExclusive(), file), S_OK);
    ASSERT_EQ(file->WriteStream(u"Set", small), S_OK);
  }
  const pid_t writer = Fork([&] {
    IStorage* storage = nullptr;
    if (OpenWith(path, kSwmrWrite, &storage) != S_OK) return 1;
    auto file = cfb::CompoundFileOf(storage);
    for (int i = 0; i < 120; ++i) {
      if (file->WaitForWriteAccess(5000) != S_OK) return 2;
      if (file->WriteStream(u"Set", i % 2 ? small : large) != S_OK) return 3;
      if (file->WriteStream(i % 3 ? u"Extra" : u"Extra2", Pattern(i * 37 % 6000, 3)) != S_OK) return 4;
      if (file->DeleteStream(i % 3 ? u"Extra" : u"Extra2") != S_OK) return 5;
      file->ReleaseWriteAccess();
    }
    return 0;
  });
  IStorage* storage = nullptr;
  ASSERT_EQ(OpenWith(path, kSwmrRead, &storage), S_OK);
  auto file = cfb::CompoundFileOf(storage);
  size_t reads = 0, bad = 0;
  for (const uint64_t start = NowMs(); NowMs() - start < 1500; ++reads) {
    std::vector<uint8_t> data;
    if (file->ReadStream(u"Set", data) != S_OK || (data != small && data != large)) ++bad;
  }
  storage->Release();
  EXPECT_EQ(Wait(writer), 0);
  EXPECT_GT(reads, 50u);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(OlefileListing(path).size(), 4u);  // the workbook's three streams and "Set"
  // Writer processes take turns adding properties; a reader process never fails nor sees one go missing.
  const std::string custom = CopyFixture("2custom.doc", dir);
  constexpr int kWriters = 4, kWrites = 100;
  auto* shared =
      static_cast<int*>(mmap(nullptr, 2 * sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  int &done = shared[0], &rounds = shared[1];
  std::vector<pid_t> writers;
  const uint64_t pacedUntil = NowMs() + 20000;  // a reader that stopped holds nobody up for long
  for (int w = 0; w < kWriters; ++w)
    writers.push_back(Fork([&] {
      for (int i = 0; i < kWrites; ++i) {
        // Paced by the reader's rounds, so that they fall among the writes however fast these are.
        while (__atomic_load_n(&rounds, __ATOMIC_SEQ_CST) < i / 8 && NowMs() < pacedUntil) usleep(1000);
        UserSet set;
        if (set.Open(custom) != S_OK || set.Write({PropertyName(w, i)}, {PropertyText(w, i)}) != S_OK) return 1;
        if (set.Commit() != S_OK) return 2;
      }
      return 0;
    }));
  const pid_t reader = Fork([&] {
    for (size_t seen = 0; !__atomic_load_n(&done, __ATOMIC_SEQ_CST); __atomic_add_fetch(&rounds, 1, __ATOMIC_SEQ_CST)) {
      UserSet set;
      std::map<std::wstring, PROPID> ids;
      std::vector<std::string> lines;
      if (set.Open(custom, kSwmrRead) != S_OK || set.Ids(ids) != S_OK || EngineListing(custom, lines) != S_OK) return 1;
      if (ids.size() < std::max<size_t>(seen, 2)) return 2;  // a set went back or lost a property
      for (const auto& entry : ids)
        if (set.Read(entry.first)[0] == '<') return 3;  // absent or not text
      seen = ids.size();
    }
    return 0;
  });
  for (pid_t pid : writers) EXPECT_EQ(Wait(pid), 0);
  __atomic_store_n(&done, 1, __ATOMIC_SEQ_CST);
  EXPECT_EQ(Wait(reader), 0);
  EXPECT_GT(__atomic_load_n(&rounds, __ATOMIC_SEQ_CST), 10);
  munmap(shared, 2 * sizeof(int));

  UserSet set;
  std::map<std::wstring, PROPID> ids;
  ASSERT_EQ(set.Open(custom, kSwmrRead), S_OK);
  ASSERT_EQ(set.Ids(ids), S_OK);
  EXPECT_EQ(ids.size(), 2u + kWriters * kWrites);  // with the fixture's own two
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kWrites; ++i) EXPECT_EQ(set.Read(PropertyName(w, i)), PropertyText(w, i));
  ExpectListing(custom, OlefileListing(custom));
}

}  // namespace
