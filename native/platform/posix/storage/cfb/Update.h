// Changes to a compound file in place, ordered so that the file stays valid
// for readers at every moment:
//   1. new content goes into sectors nothing refers to yet (free sectors of
//      the cached FAT or mini FAT, or new sectors at the end of the file),
//      together with the FAT / mini FAT entries of its chain;   [sync]
//   2. tables that had to grow (FAT, DIFAT, mini FAT, mini stream,
//      directory) are linked in and the header and root entry record it;
//      a chain longer than its recorded size is harmless to readers;  [sync]
//   3. one directory write switches to the new content: the stream's entry
//      (new start and size) or, when the set of names changes, the parent's
//      child pointer to a freshly written copy of its red-black tree;  [sync]
//   4. the old sectors and directory slots are freed (and, once the header
//      names the copy of a DIFAT chain that grew, the chain it replaced).
// A crash at any point leaves the old stream (before 3) or the new one
// (after), plus at worst some unreachable sectors. Streams not changed keep
// every byte.
//
// The functions work on a View loaded for this operation; the caller holds
// the update lock (no other writer, no reader in between).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileIo.h"
#include "View.h"

namespace quorvane {
namespace posix {
namespace cfb {

// Writes an empty compound file of the given major version (3 or 4).
HRESULT WriteEmptyFile(FileIo& io, uint16_t majorVersion);

// Creates or replaces a stream of the root storage.
// STG_E_INVALIDNAME for a name the format cannot hold, STG_E_ACCESSDENIED
// when the name belongs to a storage.
HRESULT WriteRootStream(View& view, const std::u16string& name, const std::vector<uint8_t>& data);

// STG_E_FILENOTFOUND when the root storage has no stream of that name.
HRESULT DeleteRootStream(View& view, const std::u16string& name);

// Writes a balanced red-black tree of `members` (sorted here) into `slots`,
// free directory entries (found here when too few are given); returns the
// new top, which the caller links in.
HRESULT StageTree(View& view, std::vector<DirEntry> members, std::vector<uint32_t> slots, uint32_t* top);

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
