// SHFileOperationW on Linux: copy, move, rename and delete named items, with
// wildcards in the last component, the freedesktop trash for FOF_ALLOWUNDO,
// and the shell's result codes.
//
// '?' and '*' are ordinary characters in Linux names: a name that exists as
// written is that item, and only a name that does not is a pattern (matched
// by character, not byte).
//
// There is no UI, so every question the shell would ask gets the answer that
// loses nothing (FOF_SILENT changes nothing, and a deletion's "are you
// sure?" is taken as answered by the call itself, which names the items):
// - a target that exists (without FOF_NOCONFIRMATION or
//   FOF_RENAMEONCOLLISION) is left as it is and its source skipped; the other
//   items go on, fAnyOperationsAborted is TRUE and the result ERROR_CANCELLED
//   (the code of a user's "No"); FOF_RENAMEONCOLLISION wins over
//   FOF_NOCONFIRMATION;
// - a missing destination folder is created (asked only without
//   FOF_NOCONFIRMMKDIR; making a folder loses nothing);
// - an item the trash cannot take (FOF_ALLOWUNDO on a file system without a
//   reachable trash) is not deleted for good: it stays, and the operation
//   ends as cancelled;
// - a socket or device cannot be copied, nor moved to another file system:
//   it stays where it is, and the operation ends as cancelled too;
// - so does a mount point met by a deletion (another volume: neither it nor
//   what is under it is deleted), and an entry added or changed in the source
//   of a move to another file system while the move copied it.
// Each source folder is opened once, when the call is planned, and the work
// goes through it (see FileOperationTree.cpp).
// The names are checked before anything is touched: a malformed list, a
// missing source (ERROR_FILE_NOT_FOUND, as Windows Vista and later answer,
// not the older 0x402), a root folder, a target inside its own source or the
// same file as its source fail the whole call and change nothing. What only
// the work finds (a file that cannot be read, a full disk) stops the call
// there with that code: the items before it are done, the rest are not. A
// wildcard that matches nothing is not an error. A null record or an unknown
// wFunc answers ERROR_INVALID_PARAMETER; a list without its double zero, an
// empty one, or a wildcard in a folder or a target that does not exist
// DE_INVALIDFILES; too few or too many destinations DE_MANYSRC1DEST /
// DE_MANYDEST. FOF_NORECURSION leaves alone the folders a wildcard matches;
// deleting a folder ignores it when the folder goes to the trash, as a whole.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "../base/ErrnoMapping.h"
#include "../files/Folders.h"
#include "../kernel/UniqueFd.h"
#include "FileOperation.h"

namespace fo = quorvane::posix::fileop;
using quorvane::posix::UniqueFd;

namespace {

// The folder a wildcard was matched in, opened once when the call is planned:
// its matches are worked on through it, so a folder swapped for a link after
// the listing is never followed. A name given whole has its folder opened
// when its turn comes (a long list then holds one descriptor at a time).
using Folder = std::shared_ptr<UniqueFd>;

Folder OpenFolder(const std::string& path) {
  return std::make_shared<UniqueFd>(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

struct Item {
  std::string source;
  std::string target;  // empty for FO_DELETE
  bool copyOfItself = false;
  Folder folder;  // holds the source (null: its parent, opened for the work)
};

// The source's folder for the work, and its name there.
Folder SourceFolder(const Item& item, std::string* name) {
  *name = fo::NameOf(item.source);
  return item.folder ? item.folder : OpenFolder(fo::ParentOf(item.source));
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The real path of the nearest existing folder at or above `path`.
std::string ExistingAncestor(std::string path) {
  for (int depth = 0; depth < 4096; ++depth) {
    const std::string real = RealPath(path);
    if (!real.empty()) return real;
    const std::string parent = fo::ParentOf(path);
    if (parent == path) break;
    path = parent;
  }
  return RealPath(".");
}

bool IsBadName(const std::string& path) {
  const std::string name = fo::NameOf(path);
  return name.empty() || name == "." || name == "..";
}

bool IsRoot(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  return RealPath(path) == "/";
}

// True when a part of `path` that does not exist holds '?' or '*': a name
// that exists is that name, but Windows takes no wildcard in a folder and
// none in a target.
bool HasMissingWildcard(std::string path) {
  struct stat st;
  for (int depth = 0; depth < 4096 && ::lstat(path.c_str(), &st) != 0; ++depth) {
    if (fo::HasWildcard(path)) return true;
    const std::string parent = fo::ParentOf(path);
    if (parent == path) break;
    path = parent;
  }
  return false;
}

// The items a source name stands for: itself when an item has that very name
// ('?' and '*' are ordinary characters on Linux), else the matches of the
// wildcard in its last component (*pattern true). `skipFolders` leaves out
// the folders a wildcard matches.
DWORD ExpandSource(const std::string& name, bool skipFolders, std::vector<Item>* matches, bool* pattern) {
  *pattern = false;
  if (IsBadName(name) && !IsRoot(name)) return DE_INVALIDFILES;
  struct stat st;
  if (::lstat(name.c_str(), &st) == 0) {
    matches->push_back(Item{name, std::string(), false, nullptr});
    return 0;
  }
  const int missing = errno;
  const std::string folder = fo::ParentOf(name);
  if (HasMissingWildcard(folder)) return DE_INVALIDFILES;
  // "file?/" (ENOTDIR) names a folder that is not there, not a pattern.
  if (missing != ENOENT || !fo::HasWildcard(name)) return quorvane::posix::Win32ErrorFromErrno(missing);
  *pattern = true;
  Folder opened = OpenFolder(folder);
  DIR* dir = opened->Valid() ? ::fdopendir(::dup(opened->Get())) : nullptr;
  if (dir == nullptr) return ERROR_PATH_NOT_FOUND;
  ::rewinddir(dir);  // the descriptor may be shared with an earlier listing
  std::vector<Item> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string child = entry->d_name;
    if (child == "." || child == ".." || !fo::MatchesWildcard(fo::NameOf(name), child)) continue;
    const std::string path = folder == "." && name.find('/') == std::string::npos ? child : fo::JoinPath(folder, child);
    if (::fstatat(opened->Get(), child.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || (skipFolders && S_ISDIR(st.st_mode)))
      continue;
    found.push_back(Item{path, std::string(), false, opened});
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), [](const Item& a, const Item& b) { return a.source < b.source; });
  matches->insert(matches->end(), found.begin(), found.end());
  return 0;
}

// Where `source` goes for the destination name `dest`: into it when it is a
// folder (or must become one for several items), else to that very name.
DWORD ResolveTarget(const std::string& dest, const std::string& source, bool many, std::string* target) {
  struct stat st;
  const bool exists = ::stat(dest.c_str(), &st) == 0;
  if (!(exists && S_ISDIR(st.st_mode)) && (IsBadName(dest) || HasMissingWildcard(dest))) return DE_INVALIDFILES;
  if (exists && S_ISDIR(st.st_mode)) {
    *target = fo::JoinPath(dest, fo::NameOf(source));
  } else if (many || dest.back() == '/') {
    if (exists) return DE_FLDDESTISFILE;
    *target = fo::JoinPath(fo::TrimSlashes(dest), fo::NameOf(source));
  } else {
    *target = dest;
  }
  return 0;
}

// Same-file and subtree checks of one copy, move or rename.
DWORD CheckTarget(UINT func, FILEOP_FLAGS flags, Item* item) {
  struct stat from, to;
  if (::lstat(item->source.c_str(), &from) != 0) return ERROR_FILE_NOT_FOUND;
  if (::lstat(item->target.c_str(), &to) == 0 && from.st_dev == to.st_dev && from.st_ino == to.st_ino) {
    if (func != FO_COPY || !(flags & FOF_RENAMEONCOLLISION)) return DE_SAMEFILE;
    item->copyOfItself = true;
  }
  if (S_ISDIR(from.st_mode)) {
    const std::string source = RealPath(item->source);
    const std::string parent = ExistingAncestor(fo::ParentOf(item->target));
    if (parent == source || parent.compare(0, source.size() + 1, source + "/") == 0) return DE_DESTSUBTREE;
  }
  return 0;
}

// Every item of the call, or the code that fails it before anything is done.
DWORD Plan(const SHFILEOPSTRUCTW& op, std::vector<Item>* items) {
  const UINT func = op.wFunc;
  const FILEOP_FLAGS flags = op.fFlags;
  std::vector<std::string> from, to;
  if (!fo::ReadNameList(op.pFrom, false, &from)) return DE_INVALIDFILES;
  if (func != FO_DELETE) {
    if (!fo::ReadNameList(op.pTo, false, &to)) return DE_INVALIDFILES;
    const bool multi = (flags & FOF_MULTIDESTFILES) && func != FO_RENAME;
    if (func == FO_RENAME && from.size() > 1) return DE_MANYSRC1DEST;
    if (multi && to.size() < from.size()) return DE_MANYSRC1DEST;
    if (to.size() > from.size() || (!multi && to.size() > 1)) return DE_MANYDEST;
  }
  for (size_t i = 0; i < from.size(); ++i) {
    std::vector<Item> matches;
    // FOF_NORECURSION: the folders a wildcard matches are subfolders, not entered.
    bool pattern;
    if (DWORD error = ExpandSource(from[i], (flags & (FOF_FILESONLY | FOF_NORECURSION)) != 0, &matches, &pattern))
      return error;
    if (func == FO_RENAME && pattern) return DE_INVALIDFILES;
    const bool many = pattern || (!(flags & FOF_MULTIDESTFILES) && from.size() > 1);
    for (Item item : matches) {
      const std::string& source = item.source;
      if (func != FO_COPY && IsRoot(source)) return DE_ROOTDIR;
      if (func == FO_RENAME) {
        item.target = to[0].find('/') == std::string::npos ? fo::JoinPath(fo::ParentOf(source), to[0]) : to[0];
        if (IsBadName(item.target) || HasMissingWildcard(item.target)) return DE_INVALIDFILES;
        if (RealPath(fo::ParentOf(item.target)) != RealPath(fo::ParentOf(source))) return DE_DIFFDIR;
      } else if (func != FO_DELETE) {
        const std::string& dest = (flags & FOF_MULTIDESTFILES) ? to[i] : to[0];
        if (DWORD error = ResolveTarget(dest, source, many, &item.target)) return error;
      }
      if (func != FO_DELETE) {
        if (DWORD error = CheckTarget(func, flags, &item)) return error;
      }
      items->push_back(item);
    }
  }
  return 0;
}

DWORD MakeFolders(const std::string& path) {
  const int error = quorvane::posix::MakeFolders(path, 0777);
  return error == 0 ? 0 : quorvane::posix::Win32ErrorFromErrno(error);
}

DWORD Delete(const Item& item, FILEOP_FLAGS flags, bool* aborted) {
  if (!(flags & FOF_ALLOWUNDO)) {
    std::string name;
    const Folder folder = SourceFolder(item, &name);
    if (!folder->Valid()) return quorvane::posix::Win32ErrorFromErrno(errno);
    return fo::RemoveTree(folder->Get(), name, !(flags & FOF_NORECURSION), aborted);
  }
  const DWORD error = fo::TrashItem(item.source);
  if (error == ERROR_NOT_SUPPORTED) {
    *aborted = true;  // not deleted for good without asking
    return 0;
  }
  return error;
}

DWORD Transfer(Item item, UINT func, FILEOP_FLAGS flags, bool* aborted) {
  fo::Collision collision = fo::Collision::kSkip;
  struct stat st;
  if (item.copyOfItself) {
    const std::string folder = fo::ParentOf(item.target);
    item.target = fo::JoinPath(folder, fo::CollisionName(folder, fo::NameOf(item.source), true));
  } else if (::lstat(item.target.c_str(), &st) == 0 && item.target != item.source) {
    if (flags & FOF_RENAMEONCOLLISION) {
      const std::string folder = fo::ParentOf(item.target);
      item.target = fo::JoinPath(folder, fo::CollisionName(folder, fo::NameOf(item.target), false));
    } else if (flags & FOF_NOCONFIRMATION) {
      collision = fo::Collision::kOverwrite;
    }
  }
  if (item.target == item.source) return 0;
  if (DWORD error = MakeFolders(fo::ParentOf(item.target))) return error;
  const UniqueFd to(::open(fo::ParentOf(item.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!to.Valid()) return quorvane::posix::Win32ErrorFromErrno(errno);
  std::string name;
  const Folder folder = SourceFolder(item, &name);
  if (!folder->Valid()) return quorvane::posix::Win32ErrorFromErrno(errno);
  const int from = folder->Get();
  const std::string target = fo::NameOf(item.target);
  const bool recurse = !(flags & FOF_NORECURSION);
  if (func == FO_COPY) return fo::CopyTree(from, name, to.Get(), target, recurse, collision, aborted);
  return fo::MoveTree(from, name, to.Get(), target, collision, aborted);
}

}  // namespace

int SHFileOperationW(LPSHFILEOPSTRUCTW lpFileOp) {
  if (lpFileOp == nullptr) return ERROR_INVALID_PARAMETER;
  lpFileOp->fAnyOperationsAborted = FALSE;
  lpFileOp->hNameMappings = nullptr;
  const UINT func = lpFileOp->wFunc;
  if (func < FO_MOVE || func > FO_RENAME) return ERROR_INVALID_PARAMETER;
  std::vector<Item> items;
  if (DWORD error = Plan(*lpFileOp, &items)) return static_cast<int>(error);
  bool aborted = false;
  DWORD error = 0;
  for (const auto& item : items) {
    error = func == FO_DELETE ? Delete(item, lpFileOp->fFlags, &aborted) : Transfer(item, func, lpFileOp->fFlags, &aborted);
    if (error != 0) break;
  }
  lpFileOp->fAnyOperationsAborted = aborted ? TRUE : FALSE;
  if (error != 0) return static_cast<int>(error);
  return aborted ? static_cast<int>(ERROR_CANCELLED) : 0;
}
