// The calling user's master key for data protection: 32 random bytes in the
// key file <data>/quorvane/keys/master.key, where <data> is $XDG_DATA_HOME
// or ~/.local/share. The file is 0600 in a 0700 folder, both owned by the
// user; a wider mode or another owner is refused (the key is then treated
// as unavailable, never read). The key is read on every call: nothing of it
// stays in this process between calls.
#pragma once

#include <cstddef>

#include "../WinTypes.h"

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

// 0 and `out` filled, or a Windows error code. With `create`, a missing key
// is made: written under a temporary name and linked to its final name, so
// of two processes creating at once one wins and the other reads its key.
// Without, a missing key is NTE_BAD_KEY_STATE.
DWORD LoadMasterKey(bool create, MasterKey& out);

}  // namespace posix
}  // namespace quorvane
