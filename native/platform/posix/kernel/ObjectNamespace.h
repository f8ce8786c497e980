// The per-user namespace of named kernel objects (events, and the other
// engineers' named objects that want the same rules): a private directory,
// file names derived from object names, and the lock that makes creating,
// opening and discarding a named object one step for every process of the
// user.
//
// The directory is $XDG_RUNTIME_DIR/quorvane when that is a private
// directory of this user (one per login, like the Windows session
// namespace), else /dev/shm/quorvane-<uid> (or /tmp/quorvane-<uid>). It must
// be a real directory owned by the user with no group or other access,
// otherwise named objects fail rather than trust it.
#pragma once

#include <string>

#include "../base/WinTypes.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {

// Empty when no private directory can be made.
std::string UserObjectDirectory();

// UTF-8 of wide text (code points written as they are, unpaired surrogates
// included, so distinct names stay distinct).
std::string Utf8FromWideText(const WCHAR* text);

// The name, as UTF-8, that `name` gives an object in the per-user namespace:
// a "Global\" or "Local\" prefix (case-sensitive, like every name) is
// removed, since both stand for that one namespace. False, with Windows'
// error as the last error, for a name it refuses: ERROR_FILENAME_EXCED_RANGE
// beyond MAX_PATH characters; ERROR_PATH_NOT_FOUND for any other backslash,
// which Windows reads as a path through namespace directories that do not
// exist; ERROR_INVALID_NAME for a prefix with nothing after it.
bool ObjectNameOf(LPCWSTR name, std::string* utf8Name);

// The file of object `utf8Name` in the directory. Every kind of object uses
// the same file name, so that a name taken by an event is taken for a mutex
// too, as in Windows' single namespace: "object.<name>" with '/', '%',
// control characters and a leading '.' written as %XX; names too long for a
// file name become "object#<hash>", so callers store the full name in the
// object and compare it on open.
std::string ObjectFileName(const std::string& utf8Name);

// Exclusive across every thread and process of the user while held; a
// holder that dies releases it (flock). Held() is false when the lock file
// could not be opened or locked.
class NamespaceLock {
 public:
  explicit NamespaceLock(const std::string& directory);
  bool Held() const { return held_; }

 private:
  UniqueFd fd_;
  bool held_ = false;
};

// flock(2) retried after signals; false with errno set on failure.
bool LockFile(int fd, int operation);

}  // namespace posix
}  // namespace quorvane
