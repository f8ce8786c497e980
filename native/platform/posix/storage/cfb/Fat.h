// The file allocation table of one compound file, reached through the DIFAT
// (the header's 109 slots, then the chain of DIFAT sectors). FAT and DIFAT
// sectors are read only when a chain walk or an edit needs them and cached
// for the life of the object, so reading one stream of a large file touches
// only the FAT sectors along its chain.
//
// Edits are held in memory until Flush, which writes them in an order that
// keeps the file valid for readers at every step: new FAT and DIFAT sectors
// first (nothing refers to them yet), then the changed entries of existing
// FAT sectors, except those naming a sector beyond what the FAT on disk
// covers: they wait until the header that adds the new FAT sectors is on
// disk (HeaderWritten). Changed entries of existing DIFAT sectors name new
// FAT sectors and are written by FlushDifat only, before that header. A DIFAT
// chain that grows is written anew as a whole (the header switches to the
// copy), since its old last sector's next pointer cannot change while the
// header on disk still counts the old length. Links that make new sectors
// part of a live chain are kept apart (DeferLink) and written by ApplyLinks +
// Flush once the new sectors' own content is on disk. The header fields that
// the FAT owns (FAT and DIFAT counts, the DIFAT slots, the first DIFAT
// sector) are changed in the Header object; writing the header is the
// caller's job.
//
// One object serves one operation of one thread; it holds references to the
// FileIo and Header it was built with, which must outlive it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "CfbFormat.h"
#include "FileIo.h"

namespace quorvane {
namespace posix {
namespace cfb {

// Reads one sector; a final sector cut short by the end of the file is
// completed with zeros. STG_E_DOCFILECORRUPT for a sector beyond the file.
HRESULT ReadSector(FileIo& io, const Header& header, uint32_t sectorCount, uint32_t sector, uint8_t* buffer);

// The first `count` links of a chain from `start`, `next(sector, &following)`
// giving each link: every one below `limit` and none twice, or the chain is
// STG_E_DOCFILECORRUPT. Serves the FAT and the mini FAT alike.
template <typename Next>
HRESULT FollowChain(uint32_t start, uint64_t count, uint32_t limit, Next next, std::vector<uint32_t>& out) {
  out.clear();
  if (count > limit) return STG_E_DOCFILECORRUPT;  // more than there is room for
  out.reserve(static_cast<size_t>(count));
  uint32_t sector = start;
  for (uint64_t i = 0; i < count; ++i) {
    if (sector >= limit) return STG_E_DOCFILECORRUPT;
    out.push_back(sector);
    if (i + 1 < count) {
      const HRESULT hr = next(sector, &sector);
      if (FAILED(hr)) return hr;
    }
  }
  std::vector<uint32_t> sorted(out);
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end() ? S_OK : STG_E_DOCFILECORRUPT;  // a loop
}

// A set of sector numbers, one bit each: a chain of thousands of sectors is
// noted without a node and an allocation per sector.
class SectorSet {
 public:
  bool Contains(uint32_t sector) const {
    return sector / 64 < words_.size() && ((words_[sector / 64] >> (sector % 64)) & 1) != 0;
  }
  // False when it was in the set already.
  bool Insert(uint32_t sector) {
    if (sector / 64 >= words_.size()) words_.resize(sector / 64 + 1);
    uint64_t& word = words_[sector / 64];
    const uint64_t bit = uint64_t{1} << (sector % 64);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  }

 private:
  std::vector<uint64_t> words_;
};

class Fat {
 public:
  Fat(FileIo& io, Header& header, uint32_t sectorCount);

  // Sectors in the file, counting those appended by this object.
  uint32_t SectorCount() const { return sectorCount_; }
  // Sectors the file held when this object was made. Links read from the
  // file must stay below it: a number beyond the end must not come to mean
  // a sector this object appended.
  uint32_t FileSectorCount() const { return fileSectors_; }
  // The FAT entry of `sector`. STG_E_DOCFILECORRUPT when the sector lies
  // beyond the file or beyond what the FAT covers.
  HRESULT Next(uint32_t sector, uint32_t* next);
  // The first `count` sectors of the chain starting at `start`. A chain that
  // ends early, leaves the file or visits a sector twice is corrupt.
  HRESULT Chain(uint32_t start, uint64_t count, std::vector<uint32_t>& out);

  HRESULT Set(uint32_t sector, uint32_t value);
  // A sector no chain uses, marked end-of-chain: a free one among the FAT
  // sectors already cached, else one appended at the end of the file (with
  // new FAT and DIFAT sectors when the tables must grow).
  HRESULT Allocate(uint32_t* sector);
  void DeferLink(uint32_t from, uint32_t to) { links_.emplace_back(from, to); }
  // A sector seen in use (a table, a chain walked). Allocation never hands
  // it out, even when a damaged FAT calls it free. False when it was seen
  // already: two structures sharing a sector.
  bool NoteUsed(uint32_t sector);
  // Checks that every FAT and DIFAT sector the header names lies in the file:
  // sectors appended by an update must not be ones a damaged header already
  // calls tables. Done before any update.
  HRESULT ClaimTables();
  HRESULT ApplyLinks();
  HRESULT Flush();
  // The changed entries of DIFAT sectors the file had: each names a new FAT
  // sector, so they go after that sector is on disk and before the header
  // counts it.
  HRESULT FlushDifat();
  // The header on disk now counts every FAT sector this object added.
  void HeaderWritten() { coveredOnDisk_ = header_.numFatSectors; }
  // Whether the FAT grew beyond what the header on disk counts.
  bool Grew() const { return header_.numFatSectors != coveredOnDisk_; }
  // Frees the DIFAT sectors whose copies replaced them, once the header
  // that names the copies is on disk.
  HRESULT FreeReplacedDifat();

 private:
  struct Table {
    uint32_t location = kFreeSect;
    std::vector<uint32_t> entries;
    std::vector<bool> dirty;  // by entry; empty while none changed
    bool isNew = false;
    void Changed(uint32_t slot) {
      if (isNew) return;  // written whole
      if (dirty.empty()) dirty.resize(entries.size());
      dirty[slot] = true;
    }
  };
  bool InUse(uint32_t sector) const;
  HRESULT FatSectorLocation(uint32_t index, uint32_t* sector);
  HRESULT LoadDifat(uint32_t index, Table** out);
  HRESULT LoadFat(uint32_t index, Table** out);
  HRESULT LoadTable(uint32_t location, uint32_t entryCount, Table& out);
  HRESULT AppendSector(uint32_t* sector);
  HRESULT EnsureCovered(uint32_t sector);
  HRESULT AddFatSector();
  // Appends a DIFAT sector; `placed` gets it and any copies made for it.
  HRESULT AddDifatSector(std::vector<uint32_t>& placed);
  // Gives every DIFAT sector read from the file a new place, so the chain
  // can change without touching a sector the header on disk leads to.
  HRESULT CopyDifatChain(std::vector<uint32_t>& placed);
  // Writes a new table whole, or the changed entries of an old one that
  // `ready` lets through (the others stay changed).
  template <typename Ready>
  HRESULT WriteTable(Table& table, size_t entryCount, Ready ready);

  FileIo& io_;
  Header& header_;
  uint32_t sectorCount_;
  const uint32_t fileSectors_;
  uint32_t coveredOnDisk_;  // FAT sectors the header on disk counts
  std::map<uint32_t, Table> fat_;    // by FAT sector index
  std::map<uint32_t, Table> difat_;  // by position in the DIFAT chain; last entry = next pointer
  std::vector<std::pair<uint32_t, uint32_t>> links_;
  std::vector<uint32_t> retired_;  // DIFAT sectors replaced by copies
  // Free sectors seen in the FAT sectors read so far. Allocation reads a few
  // more FAT sectors, from the start and the end of the table in turn, in
  // proportion to what it allocates, so small updates stay small, big ones
  // reuse freed space, and a stream rewritten again and again reuses the
  // space its last copy, near the end, freed.
  std::set<uint32_t> free_;
  SectorSet used_;
  uint32_t scanCursor_ = 0;
  uint32_t tailCursor_;  // FAT sectors from here on have been scanned
  uint64_t allocations_ = 0;
  uint64_t tablesScanned_ = 0;
};

// A stream kept in regular sectors whose chain is followed lazily (the
// directory, the mini FAT, the mini stream). Growth allocates through the Fat
// and defers the link from the old tail; an empty chain's new start is stored
// through `startField` (a header or root-entry field the caller writes).
class ChainedStream {
 public:
  ChainedStream(FileIo& io, const Header& header, Fat& fat, uint32_t* startField);
  HRESULT SectorAt(uint32_t index, uint32_t* sector);
  // Reads the index-th sector of the chain into bytes (resized to a sector).
  HRESULT ReadSectorAt(uint32_t index, uint32_t* sector, std::vector<uint8_t>& bytes);
  // Walks to the end of the chain (bounded by the file's sector count).
  HRESULT Length(uint32_t* sectors);
  // Appends a zero-filled sector; returns its number.
  HRESULT Append(uint32_t* sector);

 private:
  HRESULT WalkTo(uint32_t index);
  FileIo& io_;
  const Header& header_;
  Fat& fat_;
  uint32_t* startField_;
  std::vector<uint32_t> chain_;
  std::set<uint32_t> seen_;
  bool complete_ = false;
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
