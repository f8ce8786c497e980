// A file or folder opened by CreateFileW: the kernel's FileObject plus
// delete-on-close, which Windows keeps with the file (its name goes when the
// last handle to it in this process closes), and, for a folder, the change
// watch of ReadDirectoryChangesW.
//
// Thread-safe: the watch is made once under the mutex; CloseHandle from
// another thread ends a blocked ReadDirectoryChangesW through HandleClosed.
// Share-mode locks live on the descriptor (or on lockFd when the handle's
// own descriptor cannot hold a read lock) and go with it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>

#include "../kernel/FileObject.h"
#include "../kernel/UniqueFd.h"
#include "Folders.h"

namespace quorvane {
namespace posix {
namespace files {

class DirectoryWatch;

class OpenFile final : public FileObject {
 public:
  // `deleteOnClose`: the name removed when the last handle to the file
  // goes, while it is still this file's; invalid for none.
  OpenFile(UniqueFd fd, UniqueFd lockFd, bool canRead, bool canWrite, bool isFolder, NameInFolder deleteOnClose);
  ~OpenFile() override;

  bool IsFolder() const { return isFolder_; }
  void HandleClosed() override;

  // The folder's watch, started by the first call with its filter and
  // subtree flag. Null with a Windows error code when it cannot start or the
  // handle has been closed.
  std::shared_ptr<DirectoryWatch> Watch(DWORD filter, bool subtree, DWORD* error);

 private:
  UniqueFd lockFd_;
  const bool isFolder_;
  dev_t device_ = 0;  // the file, which every handle to it counts in
  ino_t inode_ = 0;
  std::mutex mutex_;
  bool closed_ = false;
  std::shared_ptr<DirectoryWatch> watch_;
};

}  // namespace files
}  // namespace posix
}  // namespace quorvane
