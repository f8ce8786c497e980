#include "OpenFile.h"

#include <unistd.h>

#include "DirectoryWatch.h"
#include "FilesApi.h"

namespace quorvane {
namespace posix {
namespace files {

OpenFile::OpenFile(UniqueFd fd, UniqueFd lockFd, bool canRead, bool canWrite, bool isFolder,
                   std::string deleteOnClose)
    : FileObject(std::move(fd), canRead, canWrite),
      lockFd_(std::move(lockFd)),
      isFolder_(isFolder),
      deleteOnClose_(std::move(deleteOnClose)) {}

OpenFile::~OpenFile() {
  // The watch goes first: it reads the folder through our descriptor.
  watch_.reset();
  if (!deleteOnClose_.empty()) (isFolder_ ? rmdir : unlink)(deleteOnClose_.c_str());
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
