// Robust recursive pthread mutexes, private or in a named shared page.
#include "Mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "../ErrnoMapping.h"
#include "Clock.h"
#include "ObjectNamespace.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kPageMagic = 0x4D555651u;  // "QVUM"
constexpr uint32_t kPageLayout = 1;
constexpr size_t kPageSize = 4096;
constexpr size_t kHeaderSize = 128;  // magic, layout, name length, the mutex, padding

struct SharedMutexPage {
  uint32_t magic;
  uint32_t layout;
  uint32_t nameBytes;
  uint32_t reserved;
  pthread_mutex_t mutex;
  char padding[kHeaderSize - 16 - sizeof(pthread_mutex_t)];
  char name[kPageSize - kHeaderSize];
};
static_assert(sizeof(SharedMutexPage) == kPageSize, "one page per mutex");

bool InitialiseMutex(pthread_mutex_t* mutex, bool shared) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_setpshared(&attributes, shared ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE) == 0 &&
            pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

// Where a mutex lives: the heap for an unnamed one, a shared page for a named one.
class MutexStorage {
 public:
  virtual ~MutexStorage() = default;
  virtual pthread_mutex_t* Mutex() = 0;
};

class PrivateMutex final : public MutexStorage {
 public:
  pthread_mutex_t* Mutex() override { return &mutex_; }
  pthread_mutex_t mutex_;
};

class SharedMutexFile final : public MutexStorage {
 public:
  SharedMutexFile(std::string directory, std::string path, UniqueFd fd, SharedMutexPage* page)
      : directory_(std::move(directory)), path_(std::move(path)), fd_(std::move(fd)), page_(page) {}

  ~SharedMutexFile() override {
    {
      NamespaceLock lock(directory_);
      if (lock.Held() && LockFile(fd_.Get(), LOCK_EX | LOCK_NB) && IsStillTheNamedFile()) unlink(path_.c_str());
    }
    munmap(page_, kPageSize);
  }

  pthread_mutex_t* Mutex() override { return &page_->mutex; }

 private:
  bool IsStillTheNamedFile() const {
    struct stat mine, named;
    return fstat(fd_.Get(), &mine) == 0 && lstat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
  }

  const std::string directory_;
  const std::string path_;
  UniqueFd fd_;
  SharedMutexPage* const page_;
};

// One handle's mutex. Thread-safe: the pthread mutex does the work.
class MutexObject final : public KernelObject {
 public:
  explicit MutexObject(std::unique_ptr<MutexStorage> storage) : storage_(std::move(storage)) {}

  ~MutexObject() override {
    // Still owned by a live thread of ours: the kernel must be able to mark
    // it abandoned when that thread ends, so its memory stays (see Mutex.h).
    if (OwnedByALiveThreadOfThisProcess()) storage_.release();
  }

  DWORD Wait(DWORD timeoutMs) override {
    pthread_mutex_t* mutex = storage_->Mutex();
    int rc;
    if (timeoutMs == 0) {
      rc = pthread_mutex_trylock(mutex);
    } else if (timeoutMs == INFINITE) {
      rc = pthread_mutex_lock(mutex);
    } else {
      const Deadline deadline(timeoutMs);
      rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, deadline.Absolute());
    }
    switch (rc) {
      case 0:
        return WAIT_OBJECT_0;
      case EOWNERDEAD:
        // We own it now; its state is ours to trust again.
        pthread_mutex_consistent(mutex);
        return WAIT_ABANDONED;
      case EBUSY:
      case ETIMEDOUT:
        return WAIT_TIMEOUT;
      default:
        SetLastErrorFromErrno(rc);
        return WAIT_FAILED;
    }
  }

  bool Release() {
    const int rc = pthread_mutex_unlock(storage_->Mutex());
    if (rc == 0) return true;
    SetLastError(rc == EPERM ? ERROR_NOT_OWNER : Win32ErrorFromErrno(rc));
    return false;
  }

 private:
  bool OwnedByALiveThreadOfThisProcess() {
    // glibc keeps the owner's thread id in the mutex (the robust futex word
    // protocol needs it there); a thread of ours has an entry under /proc/self/task.
    const int owner = storage_->Mutex()->__data.__owner;
    if (owner <= 0) return false;
    const std::string task = "/proc/self/task/" + std::to_string(owner);
    return access(task.c_str(), F_OK) == 0;
  }

  std::unique_ptr<MutexStorage> storage_;
};

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool Truncate(int fd, off_t size) {
  int rc;
  do {
    rc = ftruncate(fd, size);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

SharedMutexPage* MapPage(int fd) {
  void* p = mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<SharedMutexPage*>(p);
}

// A fresh page; the caller holds the file exclusively.
SharedMutexPage* InitialisePage(int fd, const std::string& name) {
  if (!Truncate(fd, 0) || !Truncate(fd, kPageSize)) return nullptr;
  SharedMutexPage* page = MapPage(fd);
  if (page == nullptr) return nullptr;
  if (!InitialiseMutex(&page->mutex, true)) {
    munmap(page, kPageSize);
    return nullptr;
  }
  page->layout = kPageLayout;
  page->nameBytes = static_cast<uint32_t>(name.size());
  std::memcpy(page->name, name.data(), name.size());
  std::atomic_thread_fence(std::memory_order_release);
  page->magic = kPageMagic;
  return page;
}

SharedMutexPage* AttachPage(int fd, const std::string& name) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_size < static_cast<off_t>(kPageSize))
    return nullptr;
  SharedMutexPage* page = MapPage(fd);
  if (page == nullptr) return nullptr;
  if (page->magic != kPageMagic || page->layout != kPageLayout || page->nameBytes != name.size() ||
      std::memcmp(page->name, name.data(), name.size()) != 0) {
    munmap(page, kPageSize);
    return nullptr;
  }
  return page;
}

// The named mutex's storage; *created tells whether it was made afresh.
// With `initialOwner`, a mutex made afresh is taken before anyone else can
// reach the name.
std::unique_ptr<MutexStorage> OpenNamedMutex(const std::string& utf8Name, bool initialOwner, bool* created) {
  *created = false;
  const std::string name = ObjectNameWithoutPrefix(utf8Name);
  if (name.empty() || name.size() > sizeof(SharedMutexPage::name)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  const std::string directory = UserObjectDirectory();
  if (directory.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::string path = directory + "/" + ObjectFileName("mutex", name);

  NamespaceLock lock(directory);
  if (!lock.Held()) {
    SetLastErrorFromErrno(errno);
    return nullptr;
  }
  UniqueFd fd(OpenRetrying(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.Valid()) {
    SetLastErrorFromErrno(errno);
    return nullptr;
  }
  SharedMutexPage* page = nullptr;
  if (LockFile(fd.Get(), LOCK_EX | LOCK_NB)) {
    // Nobody holds this name: whatever the file holds was left by processes
    // that are gone and does not count.
    page = InitialisePage(fd.Get(), name);
    if (page == nullptr) {
      SetLastErrorFromErrno(errno);
      unlink(path.c_str());
      return nullptr;
    }
    *created = true;
  } else {
    if (errno != EWOULDBLOCK) {
      SetLastErrorFromErrno(errno);
      return nullptr;
    }
    page = AttachPage(fd.Get(), name);
    if (page == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);  // the name belongs to something else
      return nullptr;
    }
  }
  if (!LockFile(fd.Get(), LOCK_SH | LOCK_NB)) {
    SetLastErrorFromErrno(errno);
    munmap(page, kPageSize);
    return nullptr;
  }
  if (*created && initialOwner) pthread_mutex_lock(&page->mutex);
  return std::unique_ptr<MutexStorage>(new SharedMutexFile(directory, path, std::move(fd), page));
}

}  // namespace
}  // namespace posix
}  // namespace quorvane

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  using namespace quorvane::posix;
  try {
    std::unique_ptr<MutexStorage> storage;
    bool created = true;
    if (lpName == nullptr || *lpName == L'\0') {
      auto own = std::make_unique<PrivateMutex>();
      if (!InitialiseMutex(own->Mutex(), false)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
      }
      if (bInitialOwner) pthread_mutex_lock(own->Mutex());
      storage = std::move(own);
    } else {
      storage = OpenNamedMutex(Utf8FromWideText(lpName), bInitialOwner != FALSE, &created);
      if (!storage) return nullptr;
    }
    // An existing mutex ignores the request for initial ownership.
    auto mutex = std::make_shared<MutexObject>(std::move(storage));
    HANDLE handle = RegisterHandle(mutex);
    if (handle == nullptr) {
      if (created && bInitialOwner) mutex->Release();
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = std::dynamic_pointer_cast<quorvane::posix::MutexObject>(quorvane::posix::LookupHandle(hMutex));
  if (!mutex) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return mutex->Release() ? TRUE : FALSE;
}
