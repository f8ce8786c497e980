// Robust recursive pthread mutexes, private or in a named shared page.
#include "Mutex.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "../base/ErrnoMapping.h"
#include "Clock.h"
#include "ObjectNamespace.h"
#include "SharedPage.h"

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kPageMagic = 0x4D555651u;  // "QVUM"
constexpr uint32_t kPageLayout = 1;
constexpr size_t kHeaderSize = 128;  // magic, layout, name length, the mutex, padding

struct SharedMutexPage {
  uint32_t magic;
  uint32_t layout;
  uint32_t nameBytes;
  uint32_t reserved;
  pthread_mutex_t mutex;
  char padding[kHeaderSize - 16 - sizeof(pthread_mutex_t)];
  char name[kSharedPageSize - kHeaderSize];
};
static_assert(sizeof(SharedMutexPage) == kSharedPageSize, "one page per mutex");

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

// A named mutex: its page and this handle's hold on the name.
class SharedMutexFile final : public MutexStorage {
 public:
  pthread_mutex_t* Mutex() override { return &static_cast<SharedMutexPage*>(page.Get())->mutex; }
  SharedPage page;
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

bool InitialisePage(void* memory, const std::string& name) {
  auto* page = static_cast<SharedMutexPage*>(memory);
  if (!InitialiseMutex(&page->mutex, true)) return false;
  page->layout = kPageLayout;
  WritePageName(page, name);
  std::atomic_thread_fence(std::memory_order_release);
  page->magic = kPageMagic;
  return true;
}

bool IsMutexPage(const void* page, const std::string& name) {
  return PageMatches(*static_cast<const SharedMutexPage*>(page), kPageMagic, kPageLayout, name);
}

// The named mutex's storage; *created tells whether it was made afresh.
// With `initialOwner`, a mutex made afresh is taken before anyone else can
// reach the name. Null with the last error set on failure.
std::unique_ptr<MutexStorage> OpenNamedMutex(const std::string& utf8Name, SharedPageOpen mode, bool initialOwner,
                                             bool* created) {
  *created = false;
  // Allocated first: once a fresh mutex is taken, nothing may fail.
  auto storage = std::make_unique<SharedMutexFile>();
  SharedPageKind kind{sizeof(SharedMutexPage::name), InitialisePage, IsMutexPage, nullptr};
  if (initialOwner) kind.created = [](void* page) { pthread_mutex_lock(&static_cast<SharedMutexPage*>(page)->mutex); };
  SharedPageResult opened = OpenSharedPage(utf8Name, mode, kind);
  if (opened.failure != SharedPageFailure::kNone) {
    SetLastError(SharedPageError(opened));
    return nullptr;
  }
  *created = opened.created;
  storage->page = std::move(opened.page);
  return storage;
}

// Mutexes' reading of the generic rights, as Windows maps them (bit 0, here
// MUTEX_MODIFY_STATE, is the kernel's query right).
constexpr GenericMapping kMutexMapping{STANDARD_RIGHTS_READ | MUTEX_MODIFY_STATE, STANDARD_RIGHTS_WRITE,
                                       STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, MUTEX_ALL_ACCESS};

// The handle of a mutex whose storage is ready; null (ERROR_NOT_ENOUGH_MEMORY)
// when the table is full, giving back an initial ownership this call took.
HANDLE RegisterMutex(std::unique_ptr<MutexStorage> storage, DWORD access, bool releaseOnFailure) {
  auto mutex = std::make_shared<MutexObject>(std::move(storage));
  HANDLE handle = RegisterHandle(mutex, access);
  if (handle == nullptr) {
    if (releaseOnFailure) mutex->Release();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return handle;
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
      std::string name;
      if (!ObjectNameOf(lpName, &name)) return nullptr;
      storage = OpenNamedMutex(name, SharedPageOpen::CreateOrOpen, bInitialOwner != FALSE, &created);
      if (!storage) return nullptr;
    }
    // An existing mutex ignores the request for initial ownership.
    HANDLE handle = RegisterMutex(std::move(storage), MUTEX_ALL_ACCESS, created && bInitialOwner);
    if (handle != nullptr) SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

HANDLE OpenMutexW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  using namespace quorvane::posix;
  try {
    if (lpName == nullptr || *lpName == L'\0') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::string name;
    if (!ObjectNameOf(lpName, &name)) return nullptr;
    bool created = false;
    auto storage = OpenNamedMutex(name, SharedPageOpen::OpenExisting, false, &created);
    if (!storage) return nullptr;
    return RegisterMutex(std::move(storage), GrantedAccess(dwDesiredAccess, kMutexMapping), false);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL ReleaseMutex(HANDLE hMutex) {
  // No right is needed: only the owning thread can release, and owning took a
  // wait (SYNCHRONIZE) on some handle. Windows asks for none either, which is
  // why MUTEX_MODIFY_STATE is documented as reserved.
  auto mutex = quorvane::posix::ReferenceHandle<quorvane::posix::MutexObject>(hMutex, 0);
  if (!mutex) return FALSE;
  return mutex->Release() ? TRUE : FALSE;
}
