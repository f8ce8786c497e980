// The disk work of SHFileOperationW: copying, moving and removing trees, and
// the freedesktop trash.
//
// A file is copied to a temporary name beside its target and renamed into
// place, so a failed copy never leaves half a file under the target's name
// and an overwrite replaces the old file in one step. Removal walks folders
// by descriptor (openat with O_NOFOLLOW), so a link met on the way is removed
// as a link and its target is never reached.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "../base/ErrnoMapping.h"
#include "../loader/GioLibrary.h"
#include "../kernel/UniqueFd.h"
#include "FileOperation.h"
#include "GioPath.h"

namespace quorvane {
namespace posix {
namespace fileop {
namespace {

DWORD LastErrno() { return Win32ErrorFromErrno(errno); }

bool Exists(const std::string& path, struct stat* st) { return ::lstat(path.c_str(), st) == 0; }

// A short hidden name beside `target` that nothing uses yet (short, so that a
// target of 255 bytes has one too).
std::string TempName(const std::string& target) {
  static thread_local std::mt19937 random{std::random_device{}()};
  for (;;) {
    const std::string candidate = JoinPath(ParentOf(target), ".qv-" + std::to_string(random() % 1000000000));
    struct stat st;
    if (!Exists(candidate, &st)) return candidate;
  }
}

// Puts `temp` in place of `target`: replacing it only when asked to.
DWORD Commit(const std::string& temp, const std::string& target, bool replace) {
  if (replace) {
    if (::rename(temp.c_str(), target.c_str()) == 0) return 0;
  } else {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
    // File systems without RENAME_NOREPLACE: link(2) refuses an existing name too.
    if (errno == EINVAL && ::link(temp.c_str(), target.c_str()) == 0) {
      ::unlink(temp.c_str());
      return 0;
    }
  }
  const DWORD error = LastErrno();
  ::unlink(temp.c_str());
  return error;
}

DWORD CopyData(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return LastErrno();
    }
    if (!WriteAll(out, buffer, static_cast<size_t>(got))) return LastErrno();
  }
}

DWORD CopyFile(const std::string& from, const struct stat& st, const std::string& temp) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in.Valid()) return LastErrno();
  UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.Valid()) return LastErrno();
  DWORD error = CopyData(in.Get(), out.Get());
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (error == 0 && (::fchmod(out.Get(), st.st_mode & 07777) != 0 || ::futimens(out.Get(), times) != 0))
    error = LastErrno();
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

// Sockets and devices hold no data a copy could carry.
bool CanCarry(mode_t mode) { return S_ISREG(mode) || S_ISLNK(mode) || S_ISFIFO(mode) || S_ISDIR(mode); }

// One non-folder item to a temporary name; `skipped` for kinds not copied.
DWORD CopyLeaf(const std::string& from, const struct stat& st, const std::string& temp, bool* skipped) {
  *skipped = false;
  if (S_ISREG(st.st_mode)) return CopyFile(from, st, temp);
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t length = ::readlink(from.c_str(), &target[0], target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) return length < 0 ? LastErrno() : ERROR_GEN_FAILURE;
    target.resize(static_cast<size_t>(length));
    return ::symlink(target.c_str(), temp.c_str()) == 0 ? 0 : LastErrno();
  }
  if (S_ISFIFO(st.st_mode)) return ::mkfifo(temp.c_str(), st.st_mode & 07777) == 0 ? 0 : LastErrno();
  *skipped = !CanCarry(st.st_mode);
  return 0;
}

// Calls visit(name) for each entry but "." and "..", until one answers an
// error; closes the folder.
template <class Visit>
DWORD ForEachEntry(DIR* dir, Visit visit) {
  DWORD error = 0;
  while (error == 0) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno == 0 ? 0 : LastErrno();
      break;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") error = visit(name);
  }
  ::closedir(dir);
  return error;
}

DWORD CopyFolder(const std::string& from, const struct stat& st, const std::string& to, bool exists, bool recurse,
                 Collision collision, bool* aborted) {
  if (!exists && ::mkdir(to.c_str(), 0700) != 0) return LastErrno();
  DIR* dir = ::opendir(from.c_str());
  if (dir == nullptr) return LastErrno();
  DWORD error = ForEachEntry(dir, [&](const std::string& name) -> DWORD {
    struct stat child;
    if (!Exists(JoinPath(from, name), &child)) return 0;  // gone meanwhile
    if (S_ISDIR(child.st_mode) && !recurse) return 0;
    return CopyTree(JoinPath(from, name), JoinPath(to, name), recurse, collision, aborted);
  });
  if (error == 0 && !exists) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::chmod(to.c_str(), st.st_mode & 07777) != 0 || ::utimensat(AT_FDCWD, to.c_str(), times, 0) != 0)
      error = LastErrno();
  }
  return error;
}

// `carriedOnly`: after a copy that left items out, those stay, and so do the
// folders that hold them.
DWORD RemoveAt(int dirFd, const char* name, bool recurse, bool carriedOnly) {
  struct stat st;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return LastErrno();
  if (carriedOnly && !CanCarry(st.st_mode)) return 0;
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(dirFd, name, 0) == 0 ? 0 : LastErrno();
  const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LastErrno();
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const DWORD error = LastErrno();
    ::close(fd);
    return error;
  }
  const DWORD error = ForEachEntry(dir, [&](const std::string& child) -> DWORD {
    struct stat childStat;
    if (::fstatat(fd, child.c_str(), &childStat, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISDIR(childStat.st_mode) && !recurse) return 0;
    return RemoveAt(fd, child.c_str(), recurse, carriedOnly);
  });
  if (error != 0) return error;
  if (::unlinkat(dirFd, name, AT_REMOVEDIR) == 0) return 0;
  // Without recursion a folder that keeps subfolders stays.
  return (!recurse || carriedOnly) && (errno == ENOTEMPTY || errno == EEXIST) ? 0 : LastErrno();
}

DWORD MoveFolderInto(const std::string& from, const std::string& to, bool* aborted) {
  DIR* dir = ::opendir(from.c_str());
  if (dir == nullptr) return LastErrno();
  std::vector<std::string> names;
  if (DWORD error = ForEachEntry(dir, [&](const std::string& name) -> DWORD {
        names.push_back(name);
        return 0;
      }))
    return error;
  for (const auto& name : names) {
    if (DWORD error = MoveTree(JoinPath(from, name), JoinPath(to, name), Collision::kOverwrite, aborted)) return error;
  }
  // A socket or device that could not be carried keeps its folder.
  return ::rmdir(from.c_str()) == 0 || (*aborted && errno == ENOTEMPTY) ? 0 : LastErrno();
}

// The common start of a copy or a move: the source's status and whether the
// target exists. False when the work ends here, with *result its answer: a
// target of the other kind, or a collision that is not to be overwritten.
bool Ready(const std::string& from, const std::string& to, Collision collision, bool* aborted, struct stat* st,
           bool* exists, DWORD* result) {
  *result = 0;
  struct stat existing;
  if (!Exists(from, st)) {
    *result = LastErrno();
    return false;
  }
  *exists = Exists(to, &existing);
  if (!*exists) return true;
  if (S_ISDIR(st->st_mode) != S_ISDIR(existing.st_mode)) {
    *result = S_ISDIR(st->st_mode) ? DE_FLDDESTISFILE : DE_FILEDESTISFLD;
    return false;
  }
  if (collision == Collision::kOverwrite) return true;
  *aborted = true;
  return false;
}

}  // namespace

DWORD CopyTree(const std::string& from, const std::string& to, bool recurse, Collision collision, bool* aborted) {
  struct stat st;
  bool exists;
  DWORD result;
  if (!Ready(from, to, collision, aborted, &st, &exists, &result)) return result;
  if (S_ISDIR(st.st_mode)) return CopyFolder(from, st, to, exists, recurse, collision, aborted);
  const std::string temp = TempName(to);
  bool skipped;
  if (DWORD error = CopyLeaf(from, st, temp, &skipped)) return error;
  if (!skipped) return Commit(temp, to, exists);
  *aborted = true;  // the copy is not whole
  return 0;
}

DWORD RemoveTree(const std::string& path, bool recurse, bool carriedOnly) {
  const std::string parent = ParentOf(path);
  UniqueFd dirFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.Valid()) return LastErrno();
  return RemoveAt(dirFd.Get(), NameOf(path).c_str(), recurse, carriedOnly);
}

DWORD MoveTree(const std::string& from, const std::string& to, Collision collision, bool* aborted) {
  struct stat st;
  bool exists;
  DWORD result;
  if (!Ready(from, to, collision, aborted, &st, &exists, &result)) return result;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return MoveFolderInto(from, to, aborted);
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  } else {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EINVAL) {
      struct stat again;
      if (!Exists(to, &again) && ::rename(from.c_str(), to.c_str()) == 0) return 0;
    }
  }
  if (errno != EXDEV) return LastErrno();
  // Another file system: copy everything, then remove from the source what
  // the copy carried; what it could not carry stays, and the move is cut short.
  bool copyAborted = false;
  if (DWORD error = CopyTree(from, to, true, collision, &copyAborted)) return error;
  if (copyAborted) *aborted = true;
  return RemoveTree(from, true, copyAborted);
}

DWORD TrashItem(const std::string& path) {
  if (GioLibrary::Get() == nullptr) return ERROR_NOT_SUPPORTED;  // no trash without GIO
  const std::string named = GioPath(path);
  if (named.empty()) return LastErrno();
  GFile* file = Gio().file_new_for_path(named.c_str());
  GError* error = nullptr;
  const gboolean trashed = Gio().file_trash(file, nullptr, &error);
  Gio().object_unref(file);
  if (trashed) return 0;
  DWORD code = ERROR_NOT_SUPPORTED;  // no trash reachable from this file system
  if (Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_NOT_FOUND)) code = ERROR_FILE_NOT_FOUND;
  if (Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_PERMISSION_DENIED)) code = ERROR_ACCESS_DENIED;
  Gio().error_free(error);
  return code;
}

}  // namespace fileop
}  // namespace posix
}  // namespace quorvane
