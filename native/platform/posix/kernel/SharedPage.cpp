// Opening, holding and removing the shared page of a named kernel object.
#include "SharedPage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "../base/ErrnoMapping.h"
#include "ObjectNamespace.h"

namespace quorvane {
namespace posix {
namespace {

bool Truncate(int fd, off_t size) {
  int rc;
  do {
    rc = ftruncate(fd, size);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool IsOurRegularFile(int fd, off_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return false;
  *size = st.st_size;
  return true;
}

void* MapPage(int fd) {
  void* p = mmap(nullptr, kSharedPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

// The steps of OpenSharedPage, with the namespace lock held by the caller.
struct SharedPageOpener {
  const SharedPageKind& kind;
  SharedPageResult& result;

  void Fail(SharedPageFailure failure, int error = 0) {
    result.failure = failure;
    result.error = error;
  }

  // A fresh page; the caller holds the file exclusively.
  void* Initialise(int fd, const std::string& name) {
    if (!Truncate(fd, 0) || !Truncate(fd, kSharedPageSize)) return nullptr;
    void* page = MapPage(fd);
    if (page == nullptr) return nullptr;
    if (!kind.initialise(page, name)) {
      const int error = errno;
      munmap(page, kSharedPageSize);
      errno = error;
      return nullptr;
    }
    return page;
  }

  void* Attach(int fd, off_t size, const std::string& name) {
    if (size < static_cast<off_t>(kSharedPageSize)) return nullptr;
    void* page = MapPage(fd);
    if (page == nullptr) return nullptr;
    if (!kind.recognise(page, name)) {
      munmap(page, kSharedPageSize);
      return nullptr;
    }
    return page;
  }

  // `directory` and `path` are taken by value so that nothing needs to
  // allocate (and so throw) once the page is held.
  void Open(const std::string& name, std::string directory, std::string path, SharedPageOpen mode) {
    int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    if (mode == SharedPageOpen::CreateOrOpen) flags |= O_CREAT;
    UniqueFd fd(OpenRetrying(path.c_str(), flags, 0600));
    if (!fd.Valid()) return Fail(SharedPageFailure::kSystem, errno);
    off_t size = 0;
    if (!IsOurRegularFile(fd.Get(), &size)) return Fail(SharedPageFailure::kUnusable);

    void* page = nullptr;
    if (LockFile(fd.Get(), LOCK_EX | LOCK_NB)) {
      // No handle to this name exists: whatever the file holds is left over
      // from a holder that died, and does not count.
      if (mode == SharedPageOpen::OpenExisting) {
        unlink(path.c_str());
        return Fail(SharedPageFailure::kNotFound);
      }
      page = Initialise(fd.Get(), name);
      if (page == nullptr) {
        const int error = errno;
        unlink(path.c_str());
        return Fail(SharedPageFailure::kSystem, error);
      }
      result.created = true;
    } else {
      if (errno != EWOULDBLOCK) return Fail(SharedPageFailure::kSystem, errno);
      page = Attach(fd.Get(), size, name);
      if (page == nullptr) return Fail(SharedPageFailure::kUnusable);
    }
    // Our hold on the name; the exclusive test above is converted, which is
    // safe because every other exclusive test also runs under the lock.
    if (!LockFile(fd.Get(), LOCK_SH | LOCK_NB)) {
      const int error = errno;
      munmap(page, kSharedPageSize);
      result.created = false;
      return Fail(SharedPageFailure::kSystem, error);
    }
    if (result.created && kind.created) kind.created(page);
    result.page.directory_ = std::move(directory);
    result.page.path_ = std::move(path);
    result.page.fd_ = std::move(fd);
    result.page.page_ = page;
  }
};

SharedPageResult OpenSharedPage(const std::string& name, SharedPageOpen mode, const SharedPageKind& kind) {
  SharedPageResult result;
  SharedPageOpener opener{kind, result};
  if (name.empty() || name.size() > kind.maxNameBytes) {
    opener.Fail(SharedPageFailure::kBadName);
    return result;
  }
  std::string directory = UserObjectDirectory();
  if (directory.empty()) {
    opener.Fail(SharedPageFailure::kNoNamespace);
    return result;
  }
  std::string path = directory + "/" + ObjectFileName(name);

  NamespaceLock lock(directory);
  if (!lock.Held()) {
    opener.Fail(SharedPageFailure::kSystem, errno);
    return result;
  }
  opener.Open(name, std::move(directory), std::move(path), mode);
  return result;
}

DWORD SharedPageError(const SharedPageResult& result) {
  switch (result.failure) {
    case SharedPageFailure::kNone: return ERROR_SUCCESS;
    case SharedPageFailure::kBadName: return ERROR_INVALID_NAME;
    case SharedPageFailure::kNoNamespace: return ERROR_ACCESS_DENIED;
    case SharedPageFailure::kSystem: return Win32ErrorFromErrno(result.error);
    case SharedPageFailure::kNotFound: return ERROR_FILE_NOT_FOUND;
    case SharedPageFailure::kUnusable: return ERROR_INVALID_HANDLE;
  }
  return ERROR_INVALID_FUNCTION;
}

SharedPage::SharedPage(SharedPage&& other) noexcept
    : directory_(std::move(other.directory_)),
      path_(std::move(other.path_)),
      fd_(std::move(other.fd_)),
      page_(std::exchange(other.page_, nullptr)) {}

SharedPage& SharedPage::operator=(SharedPage&& other) noexcept {
  if (this != &other) {
    Release();
    directory_ = std::move(other.directory_);
    path_ = std::move(other.path_);
    fd_ = std::move(other.fd_);
    page_ = std::exchange(other.page_, nullptr);
  }
  return *this;
}

SharedPage::~SharedPage() { Release(); }

void SharedPage::Release() noexcept {
  if (page_ == nullptr) return;
  {
    // The last handle anywhere removes the name; under the namespace lock
    // nobody can be between opening the file and taking their hold.
    NamespaceLock lock(directory_);
    if (lock.Held() && LockFile(fd_.Get(), LOCK_EX | LOCK_NB) && IsStillTheNamedFile()) unlink(path_.c_str());
  }
  munmap(page_, kSharedPageSize);
  page_ = nullptr;
  fd_.Reset();
}

bool SharedPage::IsStillTheNamedFile() const {
  struct stat mine, named;
  return fstat(fd_.Get(), &mine) == 0 && lstat(path_.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
         mine.st_ino == named.st_ino;
}

}  // namespace posix
}  // namespace quorvane
