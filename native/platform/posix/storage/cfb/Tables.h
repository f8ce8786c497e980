// The two tables a compound file keeps in regular-sector chains: the mini FAT
// (the allocation table of the 64-byte mini sectors) and the directory (the
// 128-byte entries). Both read lazily, sector by sector, and cache what they
// read for the life of the object. One object serves one operation of one
// thread; the FileIo, Header and Fat must outlive it.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "CfbFormat.h"
#include "Fat.h"
#include "FileIo.h"

namespace quorvane {
namespace posix {
namespace cfb {

class MiniFat {
 public:
  MiniFat(FileIo& io, Header& header, Fat& fat);
  HRESULT Next(uint32_t mini, uint32_t* next);
  // The first `count` mini sectors of a chain; every one must lie below `limit`
  // (the mini sectors the mini stream holds), and none may repeat.
  HRESULT Chain(uint32_t start, uint64_t count, uint32_t limit, std::vector<uint32_t>& out);
  // Grows the table (new sectors, header count) when `mini` lies beyond it.
  HRESULT Set(uint32_t mini, uint32_t value);
  // Up to `count` free mini sectors below `limit`, lowest first.
  HRESULT FindFree(uint32_t limit, size_t count, std::vector<uint32_t>& out);
  // New table sectors first, then the changed entries of existing ones.
  HRESULT Flush();
  // Walks the table's whole chain (marking its sectors used in the Fat).
  HRESULT WalkChain() {
    uint32_t length = 0;
    return chain_.Length(&length);
  }

 private:
  struct Table {
    uint32_t location = kFreeSect;
    std::vector<uint32_t> entries;
    std::set<uint32_t> dirty;
    bool isNew = false;
  };
  HRESULT Load(uint32_t index, Table** out);
  HRESULT Grow();

  FileIo& io_;
  Header& header_;
  Fat& fat_;
  ChainedStream chain_;
  std::map<uint32_t, Table> tables_;
};

class Directory {
 public:
  Directory(FileIo& io, Header& header, Fat& fat);
  HRESULT Get(uint32_t id, DirEntry& out);
  // Writes one entry (128 bytes) at once.
  HRESULT Put(uint32_t id, const DirEntry& entry);
  // `count` unallocated entries, appending directory sectors when there are
  // too few (their links are deferred through the Fat like any growth).
  HRESULT FreeSlots(size_t count, std::vector<uint32_t>& out);
  HRESULT WalkChain() {
    uint32_t length = 0;
    return chain_.Length(&length);
  }

 private:
  HRESULT LoadSector(uint32_t index, std::vector<uint8_t>** out);
  uint32_t PerSector() const { return header_.SectorSize() / kDirEntrySize; }

  FileIo& io_;
  Header& header_;
  Fat& fat_;
  ChainedStream chain_;
  std::map<uint32_t, std::vector<uint8_t>> sectors_;
};

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
