// The disk work of SHFileOperationW: copying, moving and removing trees, and
// the freedesktop trash.
//
// Everything below an item works relative to open folders: an entry is looked
// at with fstatat, a folder opened with O_NOFOLLOW and checked with fstat to
// be the one looked at, listed through its descriptor and changed with
// openat, renameat2 and unlinkat. Another process may swap a folder for a
// link at any moment; no name is ever resolved again from the top, so the
// swap is met as a link (moved, copied or removed as a link) or as a change
// (left alone, and the operation ends as cancelled).
//
// A file is copied to a temporary name beside its target and renamed into
// place, so a failed copy never leaves half a file under the target's name
// and an overwrite replaces the old file in one step; only when the disk has
// no room for both is an existing target overwritten in place. A move to
// another file system copies the whole item, then removes from the source
// only the entries it copied, unchanged since; a failed copy is removed
// again. Removal never enters a mount point.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "../base/ErrnoMapping.h"
#include "../kernel/UniqueFd.h"
#include "../loader/GioLibrary.h"
#include "FileOperation.h"
#include "GioPath.h"

namespace quorvane {
namespace posix {
namespace fileop {
namespace {

DWORD LastErrno() { return Win32ErrorFromErrno(errno); }

bool IsDiskFull(DWORD error) { return error == Win32ErrorFromErrno(ENOSPC) || error == Win32ErrorFromErrno(EDQUOT); }

// What a move checks before it removes a source entry: that it is the entry
// it copied, unchanged since (an edit or a replacement changes ctime or inode).
struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec ctime = {0, 0};
};

Identity IdentityOf(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_ctim}; }

bool SameEntry(const Identity& id, const struct stat& st) { return id.dev == st.st_dev && id.ino == st.st_ino; }

bool Unchanged(const Identity& id, const struct stat& st) {
  return SameEntry(id, st) && id.size == st.st_size && id.ctime.tv_sec == st.st_ctim.tv_sec &&
         id.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

// One entry a copy made, for removing the source after a move (`whole`: the
// source entry was carried as it was) or the copy after a failure (`made`:
// the target entry is the copy's own, not a folder merged into).
struct Carried {
  std::string name;
  Identity source;
  bool folder = false;
  bool whole = false;
  bool made = false;
  std::vector<Carried> children;
};

struct CopyRules {
  bool recurse;
  Collision collision;
  bool* aborted;
};

// True when `name` in `dirFd` is the root of a mount (a bind mount keeps its
// file system's device number, so the device alone cannot tell).
bool IsMountRoot(int dirFd, const char* name) {
  struct statx entry, parent;
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
  if (::statx(dirFd, name, flags, STATX_MNT_ID, &entry) != 0) return false;
  if (entry.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (entry.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  if (::statx(dirFd, "", AT_EMPTY_PATH, STATX_MNT_ID, &parent) != 0) return false;
  if ((entry.stx_mask & parent.stx_mask & STATX_MNT_ID) != 0) return entry.stx_mnt_id != parent.stx_mnt_id;
  return entry.stx_dev_major != parent.stx_dev_major || entry.stx_dev_minor != parent.stx_dev_minor;
}

// Folder `name` of `dirFd`, opened without following a link, when it is still
// the folder `st` describes; else invalid with *changed set (or errno).
UniqueFd OpenFolder(int dirFd, const char* name, const struct stat& st, bool* changed) {
  *changed = false;
  UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat now;
  if (!fd.Valid()) {
    *changed = errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
  } else if (::fstat(fd.Get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
    *changed = true;
    fd.Reset();
  }
  return fd;
}

// The names in an open folder but "." and ".." (the descriptor stays open).
DWORD ListNames(int fd, std::vector<std::string>* names) {
  DIR* dir = ::fdopendir(::dup(fd));
  if (dir == nullptr) return LastErrno();
  ::rewinddir(dir);
  DWORD error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) error = LastErrno();
      break;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  ::closedir(dir);
  return error;
}

// A short hidden name in `dirFd` that nothing uses yet (short, so that a
// target of 255 bytes has one too).
std::string TempName(int dirFd) {
  static thread_local std::mt19937 random{std::random_device{}()};
  for (;;) {
    const std::string candidate = ".qv-" + std::to_string(random() % 1000000000);
    struct stat st;
    if (::fstatat(dirFd, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return candidate;
  }
}

// Puts `temp` in place of `target`: replacing it only when asked to.
DWORD Commit(int dirFd, const std::string& temp, const std::string& target, bool replace) {
  if (::renameat2(dirFd, temp.c_str(), dirFd, target.c_str(), replace ? 0 : RENAME_NOREPLACE) == 0) return 0;
  // File systems without RENAME_NOREPLACE: link(2) refuses an existing name too.
  if (!replace && errno == EINVAL && ::linkat(dirFd, temp.c_str(), dirFd, target.c_str(), 0) == 0) {
    ::unlinkat(dirFd, temp.c_str(), 0);
    return 0;
  }
  const DWORD error = LastErrno();
  ::unlinkat(dirFd, temp.c_str(), 0);
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

// The source's mode for a copy: set-uid and set-gid only while the copy keeps
// the owner (and group) that gave them their meaning, as cp(1) does.
mode_t CopyMode(const struct stat& source, int outFd) {
  mode_t mode = source.st_mode & 07777;
  struct stat copy;
  if (::fstat(outFd, &copy) != 0 || copy.st_uid != source.st_uid) return mode & ~(S_ISUID | S_ISGID);
  if (copy.st_gid != source.st_gid) mode &= ~S_ISGID;
  return mode;
}

DWORD KeepModeAndTimes(int outFd, const struct stat& st) {
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ::fchmod(outFd, CopyMode(st, outFd)) == 0 && ::futimens(outFd, times) == 0 ? 0 : LastErrno();
}

// An existing regular file overwritten where it is: for a disk without room
// for the temporary copy beside it.
DWORD OverwriteInPlace(int in, const struct stat& st, int toDir, const std::string& toName) {
  UniqueFd out(::openat(toDir, toName.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat existing;
  if (!out.Valid() || ::fstat(out.Get(), &existing) != 0) return LastErrno();
  if (!S_ISREG(existing.st_mode)) return ERROR_DISK_FULL;
  if (::ftruncate(out.Get(), 0) != 0 || ::lseek(in, 0, SEEK_SET) != 0) return LastErrno();
  if (DWORD error = CopyData(in, out.Get())) return error;
  return KeepModeAndTimes(out.Get(), st);
}

DWORD CopyFile(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
               bool replace, Carried* carried) {
  UniqueFd in(::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat now;
  if (!in.Valid()) return errno == ELOOP || errno == ENOENT ? 0 : LastErrno();  // replaced meanwhile: not carried
  if (::fstat(in.Get(), &now) != 0) return LastErrno();
  if (!S_ISREG(now.st_mode) || now.st_dev != st.st_dev || now.st_ino != st.st_ino) return 0;
  const std::string temp = TempName(toDir);
  UniqueFd out(::openat(toDir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.Valid()) return LastErrno();
  DWORD error = CopyData(in.Get(), out.Get());
  if (error == 0) error = KeepModeAndTimes(out.Get(), now);
  out.Reset();
  if (error != 0) {
    ::unlinkat(toDir, temp.c_str(), 0);
    if (!replace || !IsDiskFull(error)) return error;
    error = OverwriteInPlace(in.Get(), now, toDir, toName);
  } else {
    error = Commit(toDir, temp, toName, replace);
  }
  if (error != 0) return error;
  carried->source = IdentityOf(now);
  carried->whole = carried->made = true;
  return 0;
}

// Sockets and devices hold no data a copy could carry.
bool CanCarry(mode_t mode) { return S_ISREG(mode) || S_ISLNK(mode) || S_ISFIFO(mode) || S_ISDIR(mode); }

// A link or FIFO to a temporary name, then into place.
DWORD CopySpecial(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
                  bool replace, Carried* carried) {
  const std::string temp = TempName(toDir);
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t length = ::readlinkat(fromDir, name.c_str(), &target[0], target.size());
    if (length < 0) return errno == EINVAL || errno == ENOENT ? 0 : LastErrno();  // replaced meanwhile
    if (static_cast<size_t>(length) >= target.size()) return 0;
    target.resize(static_cast<size_t>(length));
    if (::symlinkat(target.c_str(), toDir, temp.c_str()) != 0) return LastErrno();
  } else if (::mkfifoat(toDir, temp.c_str(), st.st_mode & 0777) != 0) {
    return LastErrno();
  }
  if (DWORD error = Commit(toDir, temp, toName, replace)) return error;
  carried->source = IdentityOf(st);
  carried->whole = carried->made = true;
  return 0;
}

DWORD CopyEntry(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
                const CopyRules& rules, Carried* carried);

DWORD CopyFolder(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
                 bool exists, const CopyRules& rules, Carried* carried) {
  bool changed;
  UniqueFd from = OpenFolder(fromDir, name.c_str(), st, &changed);
  if (!from.Valid()) {
    if (!changed) return LastErrno();
    *rules.aborted = true;  // swapped for something else meanwhile: not carried
    return 0;
  }
  if (!exists) {
    if (::mkdirat(toDir, toName.c_str(), 0700) != 0) return LastErrno();
    carried->made = true;
  }
  carried->folder = true;
  carried->source = IdentityOf(st);
  UniqueFd to(::openat(toDir, toName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!to.Valid()) return LastErrno();
  std::vector<std::string> names;
  DWORD error = ListNames(from.Get(), &names);
  for (size_t i = 0; i < names.size() && error == 0; ++i) {
    struct stat child;
    if (::fstatat(from.Get(), names[i].c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    if (S_ISDIR(child.st_mode) && !rules.recurse) continue;
    Carried entry;
    entry.name = names[i];
    error = CopyEntry(from.Get(), names[i], child, to.Get(), names[i], rules, &entry);
    if (entry.made || entry.folder) carried->children.push_back(std::move(entry));
  }
  // The final mode even after a failure: the temporary 0700 must not stay.
  if (carried->made) {
    const DWORD kept = KeepModeAndTimes(to.Get(), st);
    if (error == 0) error = kept;
  }
  return error;
}

DWORD CopyEntry(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
                const CopyRules& rules, Carried* carried) {
  struct stat existing;
  const bool exists = ::fstatat(toDir, toName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode) != S_ISDIR(existing.st_mode))
      return S_ISDIR(st.st_mode) ? DE_FLDDESTISFILE : DE_FILEDESTISFLD;
    if (rules.collision != Collision::kOverwrite) {
      *rules.aborted = true;
      return 0;
    }
  }
  if (S_ISDIR(st.st_mode)) return CopyFolder(fromDir, name, st, toDir, toName, exists, rules, carried);
  if (!CanCarry(st.st_mode)) {
    *rules.aborted = true;  // the copy is not whole
    return 0;
  }
  const DWORD error = S_ISREG(st.st_mode) ? CopyFile(fromDir, name, st, toDir, toName, exists, carried)
                                          : CopySpecial(fromDir, name, st, toDir, toName, exists, carried);
  if (error == 0 && !carried->whole) *rules.aborted = true;
  return error;
}

// Removes what a failed copy made.
void RemoveMade(int dirFd, const std::string& name, const Carried& carried) {
  if (!carried.folder) {
    if (carried.made) ::unlinkat(dirFd, name.c_str(), 0);
    return;
  }
  UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.Valid()) return;
  for (const auto& child : carried.children) RemoveMade(fd.Get(), child.name, child);
  if (carried.made) ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
}

// Removes from the source of a move what the copy carried and nothing else:
// an entry added, edited or replaced meanwhile stays, and so do its folders.
DWORD RemoveCarried(int dirFd, const std::string& name, const Carried& carried, bool* aborted) {
  struct stat now;
  if (::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (!carried.folder) {
    if (carried.whole && Unchanged(carried.source, now) && ::unlinkat(dirFd, name.c_str(), 0) == 0) return 0;
    *aborted = true;
    return 0;
  }
  bool changed;
  UniqueFd fd;
  if (SameEntry(carried.source, now) && !IsMountRoot(dirFd, name.c_str()))
    fd = OpenFolder(dirFd, name.c_str(), now, &changed);
  if (!fd.Valid()) {
    *aborted = true;
    return 0;
  }
  for (const auto& child : carried.children) {
    if (DWORD error = RemoveCarried(fd.Get(), child.name, child, aborted)) return error;
  }
  if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0) return 0;
  if (errno != ENOTEMPTY && errno != EEXIST) return LastErrno();
  *aborted = true;  // something the copy did not carry is in it
  return 0;
}

DWORD RemoveAt(int dirFd, const char* name, bool recurse, bool* aborted) {
  struct stat st;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return LastErrno();
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(dirFd, name, 0) == 0 ? 0 : LastErrno();
  // A mounted folder is another volume: deletion does not go into it.
  if (IsMountRoot(dirFd, name)) {
    *aborted = true;
    return 0;
  }
  bool changed;
  UniqueFd fd = OpenFolder(dirFd, name, st, &changed);
  if (!fd.Valid() && !changed) return LastErrno();
  if (!fd.Valid()) {
    *aborted = true;  // replaced meanwhile: neither entered nor removed
    return 0;
  }
  std::vector<std::string> names;
  if (DWORD error = ListNames(fd.Get(), &names)) return error;
  for (const auto& child : names) {
    struct stat childStat;
    if (::fstatat(fd.Get(), child.c_str(), &childStat, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(childStat.st_mode) && !recurse) continue;
    if (DWORD error = RemoveAt(fd.Get(), child.c_str(), recurse, aborted)) return error;
  }
  if (::unlinkat(dirFd, name, AT_REMOVEDIR) == 0) return 0;
  if (errno != ENOTEMPTY && errno != EEXIST) return LastErrno();
  // Without recursion a folder that keeps subfolders stays; so does one that
  // holds a mount point, or entries added meanwhile.
  if (recurse && !*aborted) return LastErrno();
  return 0;
}

DWORD MoveFolderInto(int fromDir, const std::string& name, const struct stat& st, int toDir, const std::string& toName,
                     bool* aborted) {
  bool changed;
  UniqueFd from = OpenFolder(fromDir, name.c_str(), st, &changed);
  UniqueFd to(::openat(toDir, toName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!from.Valid() || !to.Valid()) {
    if (!changed) return LastErrno();
    *aborted = true;
    return 0;
  }
  std::vector<std::string> names;
  if (DWORD error = ListNames(from.Get(), &names)) return error;
  for (const auto& child : names) {
    if (DWORD error = MoveTree(from.Get(), child, to.Get(), child, Collision::kOverwrite, aborted)) return error;
  }
  struct stat now;
  if (::fstatat(fromDir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != st.st_ino ||
      now.st_dev != st.st_dev) {
    *aborted = true;
    return 0;
  }
  // A socket or device that could not be carried keeps its folder.
  if (::unlinkat(fromDir, name.c_str(), AT_REMOVEDIR) == 0 || (*aborted && errno == ENOTEMPTY)) return 0;
  if (errno != ENOTEMPTY) return LastErrno();
  *aborted = true;  // entries added meanwhile stay
  return 0;
}

// The source's status and whether the target exists. False when the work
// ends here, with *result its answer: a target of the other kind, or a
// collision that is not to be overwritten.
bool Ready(int fromDir, const std::string& from, int toDir, const std::string& to, Collision collision, bool* aborted,
           struct stat* st, bool* exists, DWORD* result) {
  *result = 0;
  struct stat existing;
  if (::fstatat(fromDir, from.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    *result = LastErrno();
    return false;
  }
  *exists = ::fstatat(toDir, to.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
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

DWORD CopyTree(int fromDir, const std::string& from, int toDir, const std::string& to, bool recurse,
               Collision collision, bool* aborted) {
  struct stat st;
  bool exists;
  DWORD result;
  if (!Ready(fromDir, from, toDir, to, collision, aborted, &st, &exists, &result)) return result;
  Carried carried;
  return CopyEntry(fromDir, from, st, toDir, to, {recurse, collision, aborted}, &carried);
}

DWORD RemoveTree(int dirFd, const std::string& name, bool recurse, bool* aborted) {
  return RemoveAt(dirFd, name.c_str(), recurse, aborted);
}

DWORD MoveTree(int fromDir, const std::string& from, int toDir, const std::string& to, Collision collision,
               bool* aborted) {
  struct stat st;
  bool exists;
  DWORD result;
  if (!Ready(fromDir, from, toDir, to, collision, aborted, &st, &exists, &result)) return result;
  // A merge moves entry by entry, each by rename or across file systems.
  if (exists && S_ISDIR(st.st_mode)) return MoveFolderInto(fromDir, from, st, toDir, to, aborted);
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), exists ? 0 : RENAME_NOREPLACE) == 0) return 0;
  if (errno == EINVAL && !exists) {
    struct stat again;
    if (::fstatat(toDir, to.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 &&
        ::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0)
      return 0;
  }
  if (errno != EXDEV) return LastErrno();
  // Another file system: copy the whole item, then remove from the source
  // what the copy carried. A failed copy is removed again.
  bool copyAborted = false;
  Carried carried;
  const DWORD error = CopyEntry(fromDir, from, st, toDir, to, {true, collision, &copyAborted}, &carried);
  if (error != 0) {
    RemoveMade(toDir, to, carried);
    return error;
  }
  if (copyAborted) *aborted = true;
  return RemoveCarried(fromDir, from, carried, aborted);
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
