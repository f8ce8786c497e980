// SetFileAttributesW / GetFileAttributesW: READONLY as the write permission
// bits of a file; the other DOS attributes in the "user.DOSATTRIB" extended
// attribute, written as "0x<hex>" text, the form Samba reads and writes.
//
// The name is resolved once, to a descriptor (O_PATH: no read permission
// needed, nothing opened but the name's inode); its status, the attribute
// and the mode are then read and changed through /proc/self/fd, so a name
// swapped for a link meanwhile cannot send one file's mode to another.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../base/ErrnoMapping.h"
#include "../kernel/UniqueFd.h"
#include "../text/FileSystemText.h"
#include "FilesApi.h"

using quorvane::posix::SetLastErrorFromErrno;
using quorvane::posix::UniqueFd;

namespace {

constexpr char kDosAttributeName[] = "user.DOSATTRIB";
constexpr DWORD kKeptInXattr = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool PathOf(LPCWSTR name, std::string* path) {
  if (name == nullptr || *name == L'\0') {
    SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return false;
  }
  *path = quorvane::posix::FileSystemTextFromWide(name);
  return true;
}

// The file `name` means now (links followed, as the name asks), its status,
// and a path that reaches that very inode whatever happens to the name.
bool OpenOrFail(const std::string& name, UniqueFd* fd, std::string* path, struct stat* st) {
  fd->Reset(open(name.c_str(), O_PATH | O_CLOEXEC));
  if (fd->Valid() && fstat(fd->Get(), st) == 0) {
    *path = quorvane::posix::DescriptorPath(fd->Get());
    return true;
  }
  SetLastErrorFromErrno(errno);
  return false;
}

// The attributes kept in the extended attribute; 0 when there is none or
// the file system keeps none. Samba writes "0x..." text, possibly followed
// by a binary record: the text part is read.
DWORD StoredAttributes(const std::string& path) {
  char value[256];
  const ssize_t n = getxattr(path.c_str(), kDosAttributeName, value, sizeof(value) - 1);
  if (n <= 2 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) return 0;
  value[n] = '\0';
  return static_cast<DWORD>(std::strtoul(value + 2, nullptr, 16));
}

// Keeps `attributes` (only the kKeptInXattr ones); a file system without
// user extended attributes keeps none, and that is no failure.
bool StoreAttributes(const std::string& path, DWORD attributes) {
  int rc;
  if (attributes == 0) {
    rc = removexattr(path.c_str(), kDosAttributeName);
    if (rc != 0 && errno == ENODATA) rc = 0;
  } else {
    char text[16];
    const int length = std::snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(attributes));
    rc = setxattr(path.c_str(), kDosAttributeName, text, static_cast<size_t>(length) + 1, 0);
  }
  if (rc == 0 || errno == ENOTSUP) return true;
  SetLastErrorFromErrno(errno);
  return false;
}

std::string LastName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  std::string name, path;
  UniqueFd fd;
  struct stat st;
  if (!PathOf(lpFileName, &name) || !OpenOrFail(name, &fd, &path, &st)) return FALSE;
  // NORMAL means "none" only on its own.
  DWORD attributes = dwFileAttributes == FILE_ATTRIBUTE_NORMAL ? 0 : dwFileAttributes;
  const bool folder = S_ISDIR(st.st_mode);
  DWORD kept = attributes & kKeptInXattr;
  mode_t mode = st.st_mode;
  if (folder) kept |= attributes & FILE_ATTRIBUTE_READONLY;
  else mode = (attributes & FILE_ATTRIBUTE_READONLY) ? st.st_mode & ~kWriteBits : st.st_mode | S_IWUSR;
  // A user extended attribute needs write permission, which the owner of a
  // read-only file lacks but may give itself for the change: the attribute
  // is written while the file is writable, and read-only comes last.
  const bool lent =
      (st.st_mode & S_IWUSR) == 0 && st.st_uid == geteuid() && chmod(path.c_str(), (st.st_mode | S_IWUSR) & 07777) == 0;
  if (!StoreAttributes(path, kept)) {
    if (lent) chmod(path.c_str(), st.st_mode & 07777);
    return FALSE;
  }
  if ((lent || mode != st.st_mode) && chmod(path.c_str(), mode & 07777) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  std::string name, path;
  UniqueFd fd;
  struct stat st;
  if (!PathOf(lpFileName, &name) || !OpenOrFail(name, &fd, &path, &st)) return INVALID_FILE_ATTRIBUTES;
  const bool folder = S_ISDIR(st.st_mode);
  DWORD attributes = StoredAttributes(path) & (kKeptInXattr | (folder ? FILE_ATTRIBUTE_READONLY : 0));
  if (folder) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  const std::string last = LastName(name);
  if (last.size() > 1 && last[0] == '.' && last != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}
