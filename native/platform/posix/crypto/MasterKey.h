// The calling user's master key for data protection: 32 random bytes kept
// in one of two stores. This reads the stores; KeyCache.h holds what was
// read between calls.
// - The key file <data>/quorvane/keys/master.key, where <data> is
//   $XDG_DATA_HOME or ~/.local/share. The file is 0600 in a 0700 folder, both
//   owned by the user; a wider mode or another owner is refused (the key is
//   then treated as unavailable, never read, and no other store is tried).
// - An item of the session's Secret Service (SecretServiceKey.h).
// Which store: the Secret Service whenever the session has one that
// answers (D-Bus may start it) with its default collection unlocked. A key
// file found then is moved into it (MasterKey.cpp), so blobs made without a
// desktop keep opening. Protecting: the key file while one exists and no
// ready Secret Service took it; else the service's key, made there if
// missing; NTE_BAD_KEY_STATE when the service answers but its default
// collection is locked or missing, or when the bus or service did not
// answer in time (no key file is made beside a keyring, nor for a moment
// without one: the next call tries the bus again); a new key file only
// when the session has no Secret Service at all. Key folders are made only
// where the nearest existing folder is the caller's. Opening uses the key
// the blob names by id, from whichever store holds it, so blobs of either
// store open wherever that store is reachable. A refused store is logged
// once with its reason (SystemLog.h).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {

constexpr size_t kMasterKeySize = 32;
constexpr size_t kKeyIdSize = 16;

// A key and its identifier (the first bytes of SHA-256 over a label and the
// key), wiped on destruction. Not copyable.
struct MasterKey {
  BYTE key[kMasterKeySize] = {};
  BYTE id[kKeyIdSize] = {};
  MasterKey() = default;
  ~MasterKey();
  MasterKey(const MasterKey&) = delete;
  MasterKey& operator=(const MasterKey&) = delete;
};

// Where a loaded key came from: the key file (its folder's and its own
// status when read) or the Secret Service.
struct KeyOrigin {
  bool file = false;
  std::string path;  // the key file's, whichever store answered
  struct stat folderStatus = {};
  struct stat fileStatus = {};
};

// 0 and `out` filled, or a Windows error code. With a null `keyId`, the key
// to protect with, made when missing: of two processes making it at once
// one wins and the other uses its key (the file is linked into place, the
// Secret Service item is made under a lock file). With a `keyId` (16
// bytes), that key; missing, it is NTE_BAD_KEY_STATE.
DWORD LoadMasterKey(const BYTE* keyId, MasterKey& out, KeyOrigin* origin = nullptr);

// The key file's path under the current environment; empty without one.
std::string KeyFilePath();

}  // namespace posix
}  // namespace quorvane
