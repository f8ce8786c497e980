// Internals of SHFileOperationW (FileOperation*.cpp): the shell's result
// codes, the name lists and wildcards of the record, and the tree work on
// disk. Paths here are the bytes of Linux file names.
#pragma once

#include <string>
#include <vector>

#include "../base/WinTypes.h"
#include "ShellApi.h"

// The shell's own result codes (older than the Win32 codes they overlap; no
// public header defines them), sorted by value.
#define DE_SAMEFILE 0x71
#define DE_MANYSRC1DEST 0x72
#define DE_DIFFDIR 0x73
#define DE_ROOTDIR 0x74
#define DE_OPCANCELLED 0x75
#define DE_DESTSUBTREE 0x76
#define DE_ACCESSDENIEDSRC 0x78
#define DE_PATHTOODEEP 0x79
#define DE_MANYDEST 0x7A
#define DE_INVALIDFILES 0x7C
#define DE_DESTSAMETREE 0x7D
#define DE_FLDDESTISFILE 0x7E
#define DE_FILEDESTISFLD 0x80
#define DE_FILENAMETOOLONG 0x81
#define DE_ERROR_MAX 0xB7

#ifndef ERROR_CANCELLED
#  define ERROR_CANCELLED 1223L
#endif

namespace quorvane {
namespace posix {
namespace fileop {

// The longest name list read from a record: pFrom and pTo are read up to
// their double zero, so a list without one stops here instead of running
// through the caller's memory.
constexpr size_t kMaxListUnits = 1u << 20;
constexpr size_t kMaxNameUnits = 4096;

// The names of a double-zero list. False when the list is null, has no
// double zero within kMaxListUnits, holds a name longer than kMaxNameUnits,
// or (unless allowEmpty) holds no name.
bool ReadNameList(LPCWSTR list, bool allowEmpty, std::vector<std::string>* names);

// True when the last component holds '*' or '?' (a pattern only when no
// item has that very name).
bool HasWildcard(const std::string& path);
// Windows wildcard matching by character: '*' any run, '?' one character;
// "*.*" is every name (a name without a dot included).
bool MatchesWildcard(const std::string& pattern, const std::string& name);

std::string ParentOf(const std::string& path);  // "." for a bare name
std::string NameOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// Without trailing slashes ("/" stays "/").
std::string TrimSlashes(const std::string& path);

// A free name in `folder` for `name`: "name (2).ext", "name (3).ext", ...
// (a copy onto itself: "Copy of name", "Copy (2) of name", ...).
std::string CollisionName(const std::string& folder, const std::string& name, bool copyOfItself);

// What the operation does when a target exists.
enum class Collision { kSkip, kOverwrite, kRename };

// Tree work on entries of open folders (never resolved again by path); each
// answers 0 or the Windows code of the failure.
// Copies a file, link or folder tree (modes and times kept, but set-uid and
// set-gid only for the same owner; links copied as links, FIFOs recreated,
// never opened). A folder target that exists is merged into only with
// kOverwrite; `recurse` false copies a folder's files but not its subfolders.
// Sockets and devices cannot be carried: they are left out and *aborted set.
DWORD CopyTree(int fromDir, const std::string& from, int toDir, const std::string& to, bool recurse,
               Collision collision, bool* aborted);
// Removes a file, link (not its target) or folder tree; `recurse` false
// removes a folder's files and the folder only when it is then empty. A mount
// point and what is under it stay, with *aborted set.
DWORD RemoveTree(int dirFd, const std::string& name, bool recurse, bool* aborted);
// Moves by rename(2); across file systems copies, then removes from the
// source only what the copy carried, unchanged since (*aborted set when
// something stayed); a failed copy is removed again.
DWORD MoveTree(int fromDir, const std::string& from, int toDir, const std::string& to, Collision collision,
               bool* aborted);
// To the freedesktop trash through GIO (restorable from the desktop's trash).
DWORD TrashItem(const std::string& path);

}  // namespace fileop
}  // namespace posix
}  // namespace quorvane
