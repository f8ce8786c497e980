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

#include "../WinTypes.h"
#include "UniqueFd.h"

namespace quorvane {
namespace posix {

// Empty when no private directory can be made.
std::string UserObjectDirectory();

// UTF-8 of wide text (code points written as they are, unpaired surrogates
// included, so distinct names stay distinct).
std::string Utf8FromWideText(const WCHAR* text);

// The file of object `name` of kind `kind` ("event") in the directory:
// "<kind>.<name>" with '/', '%', control characters and a leading '.'
// written as %XX; names too long for a file name become "<kind>#<hash>",
// so callers store the full name in the object and compare it on open.
// "Local\" and "Global\" prefixes name the same (per-user) namespace.
std::string ObjectFileName(const char* kind, const std::string& utf8Name);
std::string ObjectNameWithoutPrefix(const std::string& utf8Name);

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
