// Share modes and the single-writer lock among openers in one process and
// across processes, a foreign program's whole-file lock, and readers that
// run while a writer updates.
#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "CfbTestSupport.h"
#include "posix/PropIdl.h"
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

// The user-defined set of one open storage, read or written through the
// property-set interfaces; every member is released with the scope.
struct UserSet {
  IStorage* storage = nullptr;
  IDirectWriterLock* lock = nullptr;
  IPropertySetStorage* sets = nullptr;
  IPropertyStorage* user = nullptr;
  ~UserSet() {
    if (user) user->Release();
    if (sets) sets->Release();
    if (lock) lock->Release();
    if (storage) storage->Release();
  }
  HRESULT Open(const std::string& path, DWORD mode) {
    HRESULT hr = OpenWith(path, mode, &storage);
    if (SUCCEEDED(hr) && (mode & STGM_READWRITE)) {
      hr = storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&lock));
      if (SUCCEEDED(hr)) hr = lock->WaitForWriteAccess(20000);
    }
    if (SUCCEEDED(hr)) hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
    const DWORD setMode = (mode & STGM_READWRITE) | STGM_SHARE_EXCLUSIVE;
    if (SUCCEEDED(hr)) hr = sets->Open(FMTID_UserDefinedProperties, setMode, &user);
    return hr;
  }
  // name -> text of every named text property.
  HRESULT Read(std::map<std::wstring, std::string>& out) {
    IEnumSTATPROPSTG* entries = nullptr;
    HRESULT hr = user->Enum(&entries);
    if (FAILED(hr)) return hr;
    STATPROPSTG stat;
    ULONG fetched = 0;
    while (SUCCEEDED(hr) && entries->Next(1, &stat, &fetched) == S_OK) {
      PROPSPEC spec;
      spec.ulKind = PRSPEC_PROPID;
      spec.propid = stat.propid;
      PROPVARIANT value;
      hr = user->ReadMultiple(1, &spec, &value);
      if (hr == S_OK && value.vt == VT_LPSTR && stat.lpwstrName) out[stat.lpwstrName] = value.pszVal;
      PropVariantClear(&value);
      CoTaskMemFree(stat.lpwstrName);
    }
    entries->Release();
    return hr;
  }
};

// Four writer processes add 100 user-defined properties each, taking turns
// through the writer lock, while a reader process reads the whole set again
// and again and must never fail nor see a property go missing.
TEST(CfbShare, PropertyWritersTakeTurnsReaderKeepsReading) {
  TempDir dir;
  const std::string path = CopyFixture("2custom.doc", dir);
  constexpr int kWriters = 4, kWrites = 100;
  auto* shared = static_cast<int*>(mmap(nullptr, 2 * sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  int& done = shared[0];
  int& rounds = shared[1];
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kWrites; ++i) {
        UserSet set;
        if (set.Open(path, kSwmrWrite) != S_OK) _exit(1);
        const std::wstring name = L"w" + std::to_wstring(w) + L"_" + std::to_wstring(i);
        const std::string text = "value " + std::to_string(w * 1000 + i);
        PROPSPEC spec;
        spec.ulKind = PRSPEC_LPWSTR;
        spec.lpwstr = const_cast<wchar_t*>(name.c_str());
        PROPVARIANT value;
        std::memset(&value, 0, sizeof value);
        value.vt = VT_LPSTR;
        value.pszVal = const_cast<char*>(text.c_str());
        if (set.user->WriteMultiple(1, &spec, &value, 4096) != S_OK) _exit(2);
        if (set.user->Commit(STGC_DEFAULT) != S_OK || set.storage->Commit(STGC_DEFAULT) != S_OK) _exit(3);
      }
      _exit(0);
    }
    writers.push_back(pid);
  }
  const pid_t reader = fork();
  if (reader == 0) {
    size_t seen = 0;
    while (!__atomic_load_n(&done, __ATOMIC_SEQ_CST)) {
      UserSet set;
      std::map<std::wstring, std::string> props;
      if (set.Open(path, kSwmrRead) != S_OK || set.Read(props) != S_OK) _exit(1);
      if (props.size() < std::max<size_t>(seen, 2)) _exit(2);  // a set went back or lost a property
      seen = props.size();
      __atomic_add_fetch(&rounds, 1, __ATOMIC_SEQ_CST);
    }
    _exit(0);
  }
  for (pid_t pid : writers) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  }
  __atomic_store_n(&done, 1, __ATOMIC_SEQ_CST);
  int status = 0;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  EXPECT_GT(__atomic_load_n(&rounds, __ATOMIC_SEQ_CST), 10);
  munmap(shared, 2 * sizeof(int));

  UserSet set;
  std::map<std::wstring, std::string> props;
  ASSERT_EQ(set.Open(path, kSwmrRead), S_OK);
  ASSERT_EQ(set.Read(props), S_OK);
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(props[L"w" + std::to_wstring(w) + L"_" + std::to_wstring(i)], "value " + std::to_string(w * 1000 + i));
  EXPECT_EQ(props.size(), 2u + kWriters * kWrites);  // with the fixture's own two
}

}  // namespace
