// CreateFileW: the five dispositions, read and write access, folders with
// FILE_FLAG_BACKUP_SEMANTICS, delete-on-close, and Windows share modes
// registered through the compound-file engine's locks (cfb/ShareLocks.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"
#include "../storage/cfb/ShareLocks.h"
#include "FilesApi.h"
#include "OpenFile.h"

using quorvane::posix::NameInFolder;
using quorvane::posix::SetLastErrorFromErrno;
using quorvane::posix::OpenRetrying;
using quorvane::posix::UniqueFd;
using quorvane::posix::cfb::ShareLocks;
using quorvane::posix::cfb::ShareMode;
using quorvane::posix::files::OpenFile;

namespace {

constexpr DWORD kFileWriteData = 0x00000002u;
constexpr DWORD kFileAppendData = 0x00000004u;
constexpr DWORD kReadRights = GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED | FILE_READ_DATA;
constexpr DWORD kWriteRights = GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | kFileWriteData | kFileAppendData;
constexpr DWORD kDeleteRights = GENERIC_ALL | DELETE;

// Windows tells a missing file from a missing folder on the way to it.
void SetOpenError(const std::string& path, int error) {
  if (error == ENOENT) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    SetLastError(access(folder.c_str(), F_OK) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  } else if (error == EEXIST) {
    SetLastError(ERROR_FILE_EXISTS);
  } else {
    SetLastErrorFromErrno(error);
  }
}

// The descriptor the share locks go on: a read lock needs a readable one.
UniqueFd LockDescriptor(int fd, bool readable) {
  if (readable) return UniqueFd();
  return UniqueFd(OpenRetrying(quorvane::posix::DescriptorPath(fd).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

struct Opened {
  UniqueFd fd;
  bool existed = false;
  bool created = false;
};

// Opens without truncating: truncation waits until the share mode is known
// to allow this opener, as on Windows.
bool OpenForDisposition(const std::string& path, int flags, DWORD disposition, bool folderAllowed, Opened* out) {
  int fd = -1;
  switch (disposition) {
    case CREATE_NEW:
      fd = OpenRetrying(path.c_str(), flags | O_CREAT | O_EXCL);
      out->created = fd >= 0;
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Create first so that "found it" is known exactly, then open what is there.
      for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        fd = OpenRetrying(path.c_str(), flags | O_CREAT | O_EXCL);
        if (fd >= 0) {
          out->created = true;
          break;
        }
        if (errno != EEXIST) break;
        fd = OpenRetrying(path.c_str(), flags);
        out->existed = fd >= 0 || errno == EISDIR;
        if (fd < 0 && errno != ENOENT) break;  // ENOENT: removed in between, create again
      }
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      fd = OpenRetrying(path.c_str(), flags);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
  }
  // Writing access to a folder: open it for reading, as a folder handle is.
  if (fd < 0 && errno == EISDIR && folderAllowed && disposition != CREATE_ALWAYS && disposition != TRUNCATE_EXISTING)
    fd = OpenRetrying(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    SetOpenError(path, errno);
    return false;
  }
  out->fd = UniqueFd(fd);
  return true;
}

HRESULT RegisterShareMode(int fd, const ShareMode& mode) {
  ShareLocks locks(fd);
  return locks.Register(mode);
}

}  // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (lpFileName == nullptr || *lpFileName == L'\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = quorvane::posix::FileSystemTextFromWide(lpFileName);
  const bool deleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  const bool folderAllowed = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  ShareMode mode;
  mode.read = (dwDesiredAccess & kReadRights) != 0;
  mode.write = (dwDesiredAccess & kWriteRights) != 0;
  mode.deleteAccess = deleteOnClose || (dwDesiredAccess & kDeleteRights) != 0;
  mode.denyRead = !(dwShareMode & FILE_SHARE_READ);
  mode.denyWrite = !(dwShareMode & FILE_SHARE_WRITE);
  mode.denyDelete = !(dwShareMode & FILE_SHARE_DELETE);
  if (dwCreationDisposition == TRUNCATE_EXISTING && !mode.write) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }

  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // a FIFO must not block the open
  if (mode.read && mode.write) flags |= O_RDWR;
  else if (mode.write) flags |= O_WRONLY;
  else if (mode.read) flags |= O_RDONLY;
  // Attributes only: never locked, never read. O_PATH cannot create.
  else flags = dwCreationDisposition == OPEN_EXISTING ? O_PATH | O_CLOEXEC : flags | O_RDONLY;

  // A file this call may make, or remove at close, is opened through its folder, held open: the removal goes
  // through the same folder, whatever becomes of the folders on the way.
  const bool mayCreate = dwCreationDisposition == CREATE_NEW || dwCreationDisposition == CREATE_ALWAYS ||
                         dwCreationDisposition == OPEN_ALWAYS;
  const NameInFolder name = (mayCreate || deleteOnClose) && path.back() != '/' ? NameInFolder::Of(path)
                                                                               : NameInFolder();
  Opened opened;
  if (!OpenForDisposition(name.Valid() ? name.Path() : path, flags, dwCreationDisposition, folderAllowed, &opened))
    return INVALID_HANDLE_VALUE;
  const int fd = opened.fd.Get();
  // Reads and writes block as Windows' do.
  if (!(flags & O_PATH)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  const bool isFolder = S_ISDIR(st.st_mode);
  if (isFolder && !folderAllowed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  const bool readable = !(flags & O_PATH) && (isFolder || (fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY);
  // Windows leaves a handle without read, write or delete access out of the
  // share check. A file that cannot be opened for reading (its mode allows
  // no reads) cannot hold the locks either: such an opener goes unchecked.
  const bool checked = mode.read || mode.write || mode.deleteAccess;
  UniqueFd lockFd = checked ? LockDescriptor(fd, readable) : UniqueFd();
  if (checked && (readable || lockFd.Valid())) {
    if (FAILED(RegisterShareMode(lockFd.Valid() ? lockFd.Get() : fd, mode))) {
      // Only the file this call made, through its folder.
      if (opened.created) name.RemoveIfStill(st.st_dev, st.st_ino, false);
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (!isFolder && (dwCreationDisposition == TRUNCATE_EXISTING ||
                    (dwCreationDisposition == CREATE_ALWAYS && opened.existed))) {
    // Without write access, truncate the file this handle holds, not whatever the name means by now.
    const int rc = mode.write ? ftruncate(fd, 0) : truncate(quorvane::posix::DescriptorPath(fd).c_str(), 0);
    if (rc != 0) {
      SetLastErrorFromErrno(errno);
      return INVALID_HANDLE_VALUE;
    }
  }
  auto file = std::make_shared<OpenFile>(std::move(opened.fd), std::move(lockFd), mode.read, mode.write,
                                         isFolder, deleteOnClose ? name : NameInFolder());
  HANDLE handle = quorvane::posix::RegisterHandle(std::move(file));
  if (handle == nullptr) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(opened.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}
