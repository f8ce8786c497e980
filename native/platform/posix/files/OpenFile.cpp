#include "OpenFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "DirectoryWatch.h"
#include "FilesApi.h"
#include "Folders.h"

namespace quorvane {
namespace posix {
namespace files {
namespace {

// Per file of this process: its handles, and the name to remove when the
// last one goes.
struct Openers {
  size_t handles = 0;
  NameInFolder deleteOnClose;
  bool isFolder = false;
};

std::mutex& OpenersMutex() {
  static auto* mutex = new std::mutex();  // never destroyed: handles may close until exit
  return *mutex;
}

std::map<std::pair<dev_t, ino_t>, Openers>& OpenersOf() {
  static auto* openers = new std::map<std::pair<dev_t, ino_t>, Openers>();
  return *openers;
}

}  // namespace

OpenFile::OpenFile(UniqueFd fd, UniqueFd lockFd, bool canRead, bool canWrite, bool isFolder,
                   NameInFolder deleteOnClose)
    : FileObject(std::move(fd), canRead, canWrite),
      lockFd_(std::move(lockFd)),
      isFolder_(isFolder) {
  struct stat st;
  if (fstat(Fd(), &st) == 0) device_ = st.st_dev, inode_ = st.st_ino;
  std::lock_guard<std::mutex> lock(OpenersMutex());
  Openers& openers = OpenersOf()[{device_, inode_}];
  ++openers.handles;
  if (deleteOnClose.Valid()) openers.deleteOnClose = std::move(deleteOnClose), openers.isFolder = isFolder;
}

OpenFile::~OpenFile() {
  // The watch goes first: it reads the folder through our descriptor.
  watch_.reset();
  Openers last;
  {
    std::lock_guard<std::mutex> lock(OpenersMutex());
    auto it = OpenersOf().find({device_, inode_});
    if (it == OpenersOf().end() || --it->second.handles > 0) return;
    last = std::move(it->second);
    OpenersOf().erase(it);
  }
  // Only while the name is still this file's, through the folder it was in.
  if (last.deleteOnClose.Valid()) last.deleteOnClose.RemoveIfStill(device_, inode_, last.isFolder);
}

void OpenFile::HandleClosed() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  if (watch_) watch_->Abort();
}

std::shared_ptr<DirectoryWatch> OpenFile::Watch(DWORD filter, bool subtree, DWORD* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    *error = ERROR_OPERATION_ABORTED;
    return nullptr;
  }
  if (!watch_) watch_ = DirectoryWatch::Start(Fd(), filter, subtree, error);
  return watch_;
}

}  // namespace files
}  // namespace posix
}  // namespace quorvane
