// An open file of the Linux build behind a HANDLE (CreateFileW). Owns its
// descriptor and closes it when the last user lets go (CloseHandle drops the
// table's reference). Thread-safe: the descriptor and access rights never
// change after construction; concurrent calls meet in the kernel. Kinds of
// open file with more state (files/OpenFile.h) derive from it.
#pragma once

#include <memory>

#include "../base/WinTypes.h"
#include "KernelObject.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {

class FileObject : public KernelObject {
 public:
  FileObject(UniqueFd fd, bool canRead, bool canWrite)
      : fd_(std::move(fd)), canRead_(canRead), canWrite_(canWrite) {}
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;

  // A file handle is signalled while no asynchronous operation is pending,
  // which here is always.
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }

  int Fd() const { return fd_.Get(); }
  bool CanRead() const { return canRead_; }
  bool CanWrite() const { return canWrite_; }

  // The file behind `handle`, or null (last error ERROR_INVALID_HANDLE) when
  // the handle is not an open file.
  static std::shared_ptr<FileObject> FromHandle(HANDLE handle);

 private:
  UniqueFd fd_;
  const bool canRead_;
  const bool canWrite_;
};

}  // namespace posix
}  // namespace quorvane
