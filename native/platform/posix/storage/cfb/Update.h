// Changes to a compound file in place, ordered so that every reader finds
// the old document or the new one after a crash or a power loss at any
// moment. Writes between two syncs may reach the disk in any order and any
// subset; only a sync (fdatasync) orders them. The steps, each sync skipped
// when its step wrote nothing:
//   1. new content goes into sectors nothing refers to yet (free sectors of
//      the cached FAT or mini FAT, or new sectors at the end of the file):
//      new FAT, DIFAT, mini FAT and directory sectors whole, and the entries
//      of the FAT sectors on disk that describe the new chains, except links
//      to a sector beyond what the FAT on disk covers;              [sync]
//   2. only when the FAT grew: the entries of DIFAT sectors the file had that
//      name the new FAT sectors [sync], then the header with the new FAT
//      count, DIFAT slots and DIFAT chain, every other field as on disk
//      [sync]. A link to a sector the FAT on disk does not cover makes the
//      file unreadable to every reader, and a header must not count a FAT
//      sector whose content may not be on disk yet;
//   3. the links that make new sectors part of a live chain (the tails of
//      the directory, mini FAT and mini stream) and the entries step 1 held
//      back; a chain longer than its recorded size is harmless;     [sync]
//   4. the sizes that reach the new sectors: the header's directory and mini
//      FAT fields, and the root entry's mini stream start and size (when the
//      set of names changes, those ride on step 5's root entry); a size
//      written before its chain is on disk would send readers off its end;
//                                                                   [sync]
//   5. one directory write switches to the new content: the stream's entry
//      (new start and size) or, when the set of names changes, the root's
//      child pointer to a freshly written copy of its red-black tree;  [sync]
//   6. the old sectors and directory slots are freed (and, once the header
//      names the copy of a DIFAT chain that grew, the chain it replaced).
// A crash at any point leaves the old stream (before 5) or the new one
// (after), plus at worst some unreachable sectors. Streams not changed keep
// every byte. Cost: an update within the tables the file has syncs twice
// (1 and 5); a directory, mini FAT or mini stream that grows adds one or two
// (3, 4); a FAT that grows one more (2), two when the new FAT sector's slot
// lies in a DIFAT sector the file had (files over about 7 MB).
//
// Until step 5 is on disk, the old bytes of everything written are kept
// (FileIo::BeginUndo): a failure puts them back and cuts the file to its old
// size, so a failed call leaves the file as it was. A failure in step 6 is
// logged and the call succeeds: the change is in the file.
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
