// Named events: one shared page per name in the per-user namespace, held by
// a shared flock per handle (scheme in Event.h).
#include "NamedEvent.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "ObjectNamespace.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kPageMagic = 0x56455651u;  // "QVEV"
constexpr uint32_t kPageLayout = 1;
constexpr size_t kPageSize = 4096;

// The shared page. The name is kept whole so that names whose file names
// were hashed are told apart on open.
struct SharedEventPage {
  uint32_t magic;
  uint32_t layout;
  std::atomic<uint32_t> state;
  uint32_t manualReset;
  uint32_t nameBytes;
  char name[kPageSize - 5 * sizeof(uint32_t)];
};
static_assert(sizeof(SharedEventPage) == kPageSize, "one page per event");

class SharedEventFile final : public EventStorage {
 public:
  SharedEventFile(std::string directory, std::string path, UniqueFd fd, SharedEventPage* page)
      : directory_(std::move(directory)), path_(std::move(path)), fd_(std::move(fd)), page_(page) {}

  ~SharedEventFile() override {
    {
      // The last handle anywhere removes the name; under the namespace lock
      // nobody can be between opening the file and taking their hold.
      NamespaceLock lock(directory_);
      if (lock.Held() && LockFile(fd_.Get(), LOCK_EX | LOCK_NB) && IsStillTheNamedFile()) unlink(path_.c_str());
    }
    munmap(page_, kPageSize);
  }

  std::atomic<uint32_t>* Word() override { return &page_->state; }
  bool ManualReset() const override { return page_->manualReset != 0; }
  bool ProcessShared() const override { return true; }

 private:
  bool IsStillTheNamedFile() const {
    struct stat mine, named;
    return fstat(fd_.Get(), &mine) == 0 && lstat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
  }

  const std::string directory_;
  const std::string path_;
  UniqueFd fd_;
  SharedEventPage* const page_;
};

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool IsOurRegularFile(int fd, off_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return false;
  *size = st.st_size;
  return true;
}

SharedEventPage* MapPage(int fd) {
  void* p = mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<SharedEventPage*>(p);
}

// A fresh page from the creator's arguments; the caller holds the file
// exclusively, so nobody else looks at it meanwhile.
SharedEventPage* InitialisePage(int fd, const std::string& name, bool manualReset, bool initialState) {
  int rc;
  do {
    rc = ftruncate(fd, 0);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return nullptr;
  do {
    rc = ftruncate(fd, kPageSize);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return nullptr;
  SharedEventPage* page = MapPage(fd);
  if (page == nullptr) return nullptr;
  page->layout = kPageLayout;
  page->state.store(initialState ? 1u : 0u, std::memory_order_relaxed);
  page->manualReset = manualReset ? 1u : 0u;
  page->nameBytes = static_cast<uint32_t>(name.size());
  std::memcpy(page->name, name.data(), name.size());
  page->magic = kPageMagic;
  return page;
}

SharedEventPage* AttachPage(int fd, const std::string& name) {
  off_t size = 0;
  if (!IsOurRegularFile(fd, &size) || size < static_cast<off_t>(kPageSize)) return nullptr;
  SharedEventPage* page = MapPage(fd);
  if (page == nullptr) return nullptr;
  if (page->magic != kPageMagic || page->layout != kPageLayout || page->nameBytes != name.size() ||
      std::memcmp(page->name, name.data(), name.size()) != 0) {
    munmap(page, kPageSize);
    return nullptr;
  }
  return page;
}

}  // namespace

std::unique_ptr<EventStorage> OpenNamedEvent(const std::string& utf8Name, NamedEventOpen mode,
                                             bool manualReset, bool initialState, bool* created) {
  *created = false;
  const std::string name = ObjectNameWithoutPrefix(utf8Name);
  if (name.empty() || name.size() > sizeof(SharedEventPage::name)) return nullptr;
  const std::string directory = UserObjectDirectory();
  if (directory.empty()) return nullptr;
  const std::string path = directory + "/" + ObjectFileName("event", name);

  NamespaceLock lock(directory);
  if (!lock.Held()) return nullptr;
  int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
  if (mode == NamedEventOpen::CreateOrOpen) flags |= O_CREAT;
  UniqueFd fd(OpenRetrying(path.c_str(), flags));
  if (!fd.Valid()) return nullptr;
  off_t size = 0;
  if (!IsOurRegularFile(fd.Get(), &size)) return nullptr;

  SharedEventPage* page = nullptr;
  if (LockFile(fd.Get(), LOCK_EX | LOCK_NB)) {
    // No handle to this name exists: whatever the file holds is left over
    // from a holder that died, and does not count.
    if (mode == NamedEventOpen::OpenExisting) {
      unlink(path.c_str());
      return nullptr;
    }
    page = InitialisePage(fd.Get(), name, manualReset, initialState);
    if (page == nullptr) {
      unlink(path.c_str());
      return nullptr;
    }
    *created = true;
  } else {
    if (errno != EWOULDBLOCK) return nullptr;
    page = AttachPage(fd.Get(), name);
    if (page == nullptr) return nullptr;
  }
  // Our hold on the name; the exclusive test above is converted, which is
  // safe because every other exclusive test also runs under the lock.
  if (!LockFile(fd.Get(), LOCK_SH | LOCK_NB)) {
    munmap(page, kPageSize);
    return nullptr;
  }
  try {
    return std::unique_ptr<EventStorage>(new SharedEventFile(directory, path, std::move(fd), page));
  } catch (const std::bad_alloc&) {
    munmap(page, kPageSize);
    return nullptr;
  }
}

}  // namespace posix
}  // namespace quorvane
