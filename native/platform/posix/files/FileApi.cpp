#include "FileApi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "../kernel/FileObject.h"

using quorvane::posix::FileObject;
using quorvane::posix::SetLastErrorFromErrno;
using quorvane::posix::OpenRetrying;
using quorvane::posix::UniqueFd;

namespace quorvane {
namespace posix {

std::shared_ptr<FileObject> FileObject::FromHandle(HANDLE handle) {
  auto file = std::dynamic_pointer_cast<FileObject>(LookupHandle(handle));
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

}  // namespace posix
}  // namespace quorvane

namespace {

bool PathOf(LPCWSTR name, std::string* path) {
  if (name == nullptr || *name == L'\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *path = quorvane::posix::FileSystemTextFromWide(name);
  return true;
}

// The folder part of `path` ("." when there is none), for syncing a rename.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool SyncFolder(const std::string& folder) {
  UniqueFd fd(OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Valid()) return false;
  int rc;
  do {
    rc = fsync(fd.Get());
  } while (rc != 0 && errno == EINTR);
  // Some file systems cannot sync a folder; the rename itself is done.
  return rc == 0 || errno == EINVAL || errno == EROFS;
}

bool Seek(const FileObject& file, LONGLONG distance, DWORD method, LONGLONG* position) {
  int whence;
  switch (method) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
  }
  if (method != FILE_BEGIN || distance >= 0) {
    const off_t at = lseek(file.Fd(), static_cast<off_t>(distance), whence);
    if (at >= 0) {
      *position = at;
      return true;
    }
    if (errno != EINVAL) {
      SetLastErrorFromErrno(errno);
      return false;
    }
  }
  SetLastError(ERROR_NEGATIVE_SEEK);
  return false;
}

// The file behind `handle` when a synchronous transfer of `bytes` to or
// from `buffer` may start; null, with the last error set, otherwise.
std::shared_ptr<FileObject> TransferFile(HANDLE handle, LPCVOID buffer, DWORD bytes, LPOVERLAPPED overlapped,
                                         bool writing) {
  if (overlapped != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto file = FileObject::FromHandle(handle);
  if (!file) return nullptr;
  if (!(writing ? file->CanWrite() : file->CanRead())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (buffer == nullptr && bytes > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);  // Windows: ERROR_NOACCESS
    return nullptr;
  }
  return file;
}

// Runs `step(done)` (read(2) or write(2) of the rest) until `total` bytes
// have moved, retrying after signals; a read also stops at end of file.
// The count moved so far is reported on failure too.
template <class Step>
BOOL TransferAll(DWORD total, LPDWORD transferred, bool stopAtZero, Step step) {
  DWORD done = 0;
  while (done < total) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno);
      if (transferred) *transferred = done;
      return FALSE;
    }
    if (n == 0 && stopAtZero) break;
    done += static_cast<DWORD>(n);
  }
  if (transferred) *transferred = done;
  return TRUE;
}

}  // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto file = TransferFile(hFile, lpBuffer, nNumberOfBytesToRead, lpOverlapped, false);
  if (!file) return FALSE;
  auto* out = static_cast<char*>(lpBuffer);
  return TransferAll(nNumberOfBytesToRead, lpNumberOfBytesRead, true, [&](DWORD done) {
    return read(file->Fd(), out + done, nNumberOfBytesToRead - done);
  });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto file = TransferFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpOverlapped, true);
  if (!file) return FALSE;
  const auto* in = static_cast<const char*>(lpBuffer);
  return TransferAll(nNumberOfBytesToWrite, lpNumberOfBytesWritten, false, [&](DWORD done) {
    return write(file->Fd(), in + done, nNumberOfBytesToWrite - done);
  });
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto file = FileObject::FromHandle(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  LONGLONG distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr)
    distance = static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                     static_cast<uint32_t>(lDistanceToMove));
  LONGLONG position = 0;
  if (!Seek(*file, distance, dwMoveMethod, &position)) return INVALID_SET_FILE_POINTER;
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  // A position whose low part is 0xFFFFFFFF is told apart by the error code 0.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
  auto file = FileObject::FromHandle(hFile);
  if (!file) return FALSE;
  LONGLONG position = 0;
  if (!Seek(*file, liDistanceToMove.QuadPart, dwMoveMethod, &position)) return FALSE;
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = position;
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  auto file = FileObject::FromHandle(hFile);
  if (!file) return FALSE;
  if (lpFileSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (fstat(file->Fd(), &st) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  lpFileSize->QuadPart = st.st_size;
  return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(hFile, &size)) return INVALID_FILE_SIZE;
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size.QuadPart & 0xFFFFFFFFu);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto file = FileObject::FromHandle(hFile);
  if (!file) return FALSE;
  if (!file->CanWrite()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int rc;
  do {
    rc = fdatasync(file->Fd());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  std::string from, to;
  if (!PathOf(lpExistingFileName, &from)) return FALSE;
  if (lpNewFileName == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // delete-at-reboot has no meaning here
    return FALSE;
  }
  if (!PathOf(lpNewFileName, &to)) return FALSE;
  int rc;
  if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
    rc = rename(from.c_str(), to.c_str());
  } else {
    rc = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // The file system cannot refuse to replace: a link refuses an existing name.
      rc = link(from.c_str(), to.c_str());
      if (rc == 0) rc = unlink(from.c_str());
    }
    if (rc != 0 && errno == EEXIST) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    }
  }
  if (rc != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (dwFlags & MOVEFILE_WRITE_THROUGH) {
    const std::string fromFolder = FolderOf(from), toFolder = FolderOf(to);
    if (!SyncFolder(toFolder) || (fromFolder != toFolder && !SyncFolder(fromFolder))) {
      SetLastErrorFromErrno(errno);
      return FALSE;
    }
  }
  return TRUE;
}
