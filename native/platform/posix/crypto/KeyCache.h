// The master keys this process has read, held between calls so that
// protecting does not read a store each time: in one page locked in memory
// (never swapped) and left out of core dumps, wiped when the library is
// unloaded or the process exits.
//
// A held key is used while its store still says the same:
// - a key file's key while the file and its folder keep their identity,
//   times, size, owner and mode, looked at once a second at most;
// - a Secret Service key for a minute after it was read, and only while no
//   key file has appeared (which protecting would use instead);
// and a blob naming a key not held makes the stores be read (LoadMasterKey).
// Without a page that can be locked, nothing is held: each call reads.
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
