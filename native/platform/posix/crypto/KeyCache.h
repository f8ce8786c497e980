// The master keys this process has read, held between calls so that
// protecting does not read a store each time: in one page left out of core
// dumps, locked in memory (never swapped) where the process may lock memory
// and held unlocked where it may not (ulimit -l 0), wiped when the library
// is unloaded or the process exits.
//
// A held key is used while its store still says the same:
// - a key file's key while the file and its folder keep their identity,
//   times, size, owner and mode, looked at once a second at most;
// - a Secret Service key while no key file has appeared (which protecting
//   would use instead);
// - either for a minute after it was read, so a keyring that came since
//   gets the key file's key (LoadMasterKey);
// and a blob naming a key not held makes the stores be read. Without a page
// that can be left out of core dumps, nothing is held: each call reads.
#pragma once

#include <functional>

#include "../base/WinTypes.h"
#include "MasterKey.h"

namespace quorvane {
namespace posix {

// Runs `use` with the master key LoadMasterKey(keyId) would give, held or
// read now; its answer, or the store's error code.
DWORD WithMasterKey(const BYTE* keyId, const std::function<DWORD(const MasterKey&)>& use);

}  // namespace posix
}  // namespace quorvane
