#include "Fat.h"

#include <algorithm>
#include <cstring>

#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

HRESULT ReadSector(FileIo& io, const Header& header, uint32_t sectorCount, uint32_t sector, uint8_t* buffer) {
  if (sector >= sectorCount) return STG_E_DOCFILECORRUPT;
  const size_t size = header.SectorSize();
  size_t got = 0;
  const HRESULT hr = io.ReadAt(header.SectorOffset(sector), buffer, size, &got);
  if (FAILED(hr)) return hr;
  if (got == 0) return STG_E_DOCFILECORRUPT;  // truncated file
  std::memset(buffer + got, 0, size - got);
  return S_OK;
}

namespace {
bool InRangeLock(const Header& header, uint32_t sector) {
  const uint64_t start = header.SectorOffset(sector);
  return start < kRangeLockEnd && start + header.SectorSize() > kRangeLockStart;
}
}  // namespace

Fat::Fat(FileIo& io, Header& header, uint32_t sectorCount)
    : io_(io),
      header_(header),
      sectorCount_(sectorCount),
      fileSectors_(sectorCount),
      coveredOnDisk_(header.numFatSectors),
      tailCursor_(header.numFatSectors) {}

bool Fat::InUse(uint32_t sector) const {
  // The FAT sectors the header lists are looked up there, not copied into
  // used_: a read should cost the same in a big file as in a small one.
  const uint32_t listed = std::min<uint32_t>(kHeaderDifatEntries, header_.numFatSectors);
  return std::find(header_.difat, header_.difat + listed, sector) != header_.difat + listed || used_.Contains(sector);
}

bool Fat::NoteUsed(uint32_t sector) { return !InUse(sector) && used_.Insert(sector); }

HRESULT Fat::LoadTable(uint32_t location, uint32_t entryCount, Table& out) {
  std::vector<uint8_t> bytes(header_.SectorSize());
  const HRESULT hr = ReadSector(io_, header_, fileSectors_, location, bytes.data());
  if (FAILED(hr)) return hr;
  out.location = location;
  used_.Insert(location);
  out.entries.resize(entryCount);
  for (uint32_t i = 0; i < entryCount; ++i) out.entries[i] = Load32(bytes.data() + 4 * i);
  return S_OK;
}

HRESULT Fat::LoadDifat(uint32_t index, Table** out) {
  if (index >= header_.numDifatSectors) return STG_E_DOCFILECORRUPT;
  const auto cached = difat_.find(index);
  if (cached != difat_.end()) {
    *out = &cached->second;
    return S_OK;
  }
  // Walk the DIFAT chain in order; positions already read come from the cache.
  for (uint32_t j = 0; j <= index; ++j) {
    if (difat_.count(j)) continue;
    const uint32_t location =
        j == 0 ? header_.firstDifatSector : difat_[j - 1].entries[header_.EntriesPerDifatSector()];
    Table table;
    const HRESULT hr = LoadTable(location, header_.EntriesPerFatSector(), table);
    if (FAILED(hr)) return hr;
    difat_[j] = std::move(table);
  }
  *out = &difat_[index];
  return S_OK;
}

HRESULT Fat::FatSectorLocation(uint32_t index, uint32_t* sector) {
  if (index >= header_.numFatSectors) return STG_E_DOCFILECORRUPT;
  if (index < kHeaderDifatEntries) {
    *sector = header_.difat[index];
  } else {
    const uint32_t rest = index - kHeaderDifatEntries;
    const uint32_t perDifat = header_.EntriesPerDifatSector();
    Table* table = nullptr;
    const HRESULT hr = LoadDifat(rest / perDifat, &table);
    if (FAILED(hr)) return hr;
    *sector = table->entries[rest % perDifat];
  }
  return *sector < fileSectors_ ? S_OK : STG_E_DOCFILECORRUPT;
}

HRESULT Fat::ClaimTables() {
  for (uint32_t i = 0; i < header_.numFatSectors; ++i) {
    uint32_t location = kFreeSect;
    const HRESULT hr = FatSectorLocation(i, &location);  // corrupt when beyond the file
    if (FAILED(hr)) return hr;
    if (InRangeLock(header_, location)) return STG_E_DOCFILECORRUPT;
  }
  return S_OK;
}

HRESULT Fat::LoadFat(uint32_t index, Table** out) {
  auto found = fat_.find(index);
  if (found != fat_.end()) {
    *out = &found->second;
    return S_OK;
  }
  uint32_t location = kFreeSect;
  HRESULT hr = FatSectorLocation(index, &location);
  if (FAILED(hr)) return hr;
  Table table;
  hr = LoadTable(location, header_.EntriesPerFatSector(), table);
  if (FAILED(hr)) return hr;
  const uint64_t base = static_cast<uint64_t>(index) * header_.EntriesPerFatSector();
  for (uint32_t slot = 0; slot < table.entries.size() && base + slot < sectorCount_; ++slot)
    if (table.entries[slot] == kFreeSect && !InRangeLock(header_, static_cast<uint32_t>(base + slot)))
      free_.insert(static_cast<uint32_t>(base + slot));
  *out = &(fat_[index] = std::move(table));
  return S_OK;
}

HRESULT Fat::Next(uint32_t sector, uint32_t* next) {
  if (sector >= sectorCount_) return STG_E_DOCFILECORRUPT;
  Table* table = nullptr;
  const HRESULT hr = LoadFat(sector / header_.EntriesPerFatSector(), &table);
  if (FAILED(hr)) return hr;
  *next = table->entries[sector % header_.EntriesPerFatSector()];
  return S_OK;
}

HRESULT Fat::Chain(uint32_t start, uint64_t count, std::vector<uint32_t>& out) {
  const HRESULT hr =
      FollowChain(start, count, fileSectors_, [this](uint32_t sector, uint32_t* next) { return Next(sector, next); }, out);
  for (const uint32_t sector : out) used_.Insert(sector);
  return hr;
}

HRESULT Fat::Set(uint32_t sector, uint32_t value) {
  if (sector >= sectorCount_) return STG_E_DOCFILECORRUPT;
  Table* table = nullptr;
  const HRESULT hr = LoadFat(sector / header_.EntriesPerFatSector(), &table);
  if (FAILED(hr)) return hr;
  const uint32_t slot = sector % header_.EntriesPerFatSector();
  table->entries[slot] = value;
  table->Changed(slot);
  // Sectors freed by this object are not handed out again: they may still
  // be what a reader's old view points to until the update is done.
  free_.erase(sector);
  return S_OK;
}

HRESULT Fat::AppendSector(uint32_t* sector) {
  for (;;) {
    if (sectorCount_ >= kMaxRegSect) return STG_E_MEDIUMFULL;
    const uint32_t candidate = sectorCount_;
    const uint64_t end = header_.SectorOffset(candidate) + header_.SectorSize();
    // Version 3 files end at 2 GB, below the lock range.
    if (header_.majorVersion == kMajorVersion3 && end > kRangeLockStart) return STG_E_MEDIUMFULL;
    ++sectorCount_;
    if (InRangeLock(header_, candidate)) continue;  // never allocated
    *sector = candidate;
    return S_OK;
  }
}

HRESULT Fat::CopyDifatChain(std::vector<uint32_t>& placed) {
  const uint32_t nextSlot = header_.EntriesPerDifatSector();
  for (uint32_t index = 0; index < header_.numDifatSectors; ++index) {
    Table* table = nullptr;
    HRESULT hr = LoadDifat(index, &table);
    if (FAILED(hr)) return hr;
    if (table->isNew) continue;  // a copy already, or added by this object
    uint32_t copy = kFreeSect;
    if (FAILED(hr = AppendSector(&copy))) return hr;
    retired_.push_back(table->location);
    table->location = copy;
    table->isNew = true;
    table->dirty.clear();
    if (index == 0)
      header_.firstDifatSector = copy;
    else
      difat_[index - 1].entries[nextSlot] = copy;  // a copy itself: written whole
    placed.push_back(copy);
  }
  return S_OK;
}

HRESULT Fat::AddDifatSector(std::vector<uint32_t>& placed) {
  // The last sector's next pointer must not change in place: a reader of
  // the old header would find a chain longer than the count it was told.
  // The chain is copied and the header switches to the copy.
  HRESULT hr = CopyDifatChain(placed);
  uint32_t location = kFreeSect;
  if (FAILED(hr) || FAILED(hr = AppendSector(&location))) return hr;
  const uint32_t index = header_.numDifatSectors;
  Table table;
  table.location = location;
  table.entries.assign(header_.EntriesPerFatSector(), kFreeSect);
  table.entries[header_.EntriesPerDifatSector()] = kEndOfChain;
  table.isNew = true;
  if (index == 0) {
    header_.firstDifatSector = location;
  } else {
    Table* previous = nullptr;
    if (FAILED(hr = LoadDifat(index - 1, &previous))) return hr;
    previous->entries[header_.EntriesPerDifatSector()] = location;
  }
  difat_[index] = std::move(table);
  ++header_.numDifatSectors;
  placed.push_back(location);
  return S_OK;
}

HRESULT Fat::FreeReplacedDifat() {
  for (const uint32_t sector : retired_) {
    const HRESULT hr = Set(sector, kFreeSect);
    if (FAILED(hr)) return hr;
  }
  retired_.clear();
  return S_OK;
}

HRESULT Fat::AddFatSector() {
  uint32_t location = kFreeSect;
  HRESULT hr = AppendSector(&location);
  if (FAILED(hr)) return hr;
  const uint32_t index = header_.numFatSectors;
  std::vector<uint32_t> difatPlaced;
  if (index < kHeaderDifatEntries) {
    header_.difat[index] = location;
  } else {
    const uint32_t rest = index - kHeaderDifatEntries;
    const uint32_t perDifat = header_.EntriesPerDifatSector();
    if (rest / perDifat >= header_.numDifatSectors) {
      hr = AddDifatSector(difatPlaced);
      if (FAILED(hr)) return hr;
    }
    Table* difat = nullptr;
    hr = LoadDifat(rest / perDifat, &difat);
    if (FAILED(hr)) return hr;
    difat->entries[rest % perDifat] = location;
    difat->Changed(rest % perDifat);
  }
  Table table;
  table.location = location;
  table.entries.assign(header_.EntriesPerFatSector(), kFreeSect);
  table.isNew = true;
  fat_[index] = std::move(table);
  ++header_.numFatSectors;
  // Mark the new sectors only now: covering them may add further FAT sectors.
  if (FAILED(hr = EnsureCovered(location)) || FAILED(hr = Set(location, kFatSect))) return hr;
  for (const uint32_t difat : difatPlaced)
    if (FAILED(hr = EnsureCovered(difat)) || FAILED(hr = Set(difat, kDifSect))) return hr;
  return S_OK;
}

HRESULT Fat::EnsureCovered(uint32_t sector) {
  while (sector / header_.EntriesPerFatSector() >= header_.numFatSectors) {
    const HRESULT hr = AddFatSector();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Fat::Allocate(uint32_t* sector) {
  const uint32_t per = header_.EntriesPerFatSector();
  ++allocations_;
  // From both ends in turn: a stream written again and again frees its last copy near the end of the file.
  while (free_.empty() && scanCursor_ < tailCursor_ && tablesScanned_ < allocations_ / per + 4) {
    const uint32_t index = tablesScanned_++ % 2 == 0 ? scanCursor_++ : --tailCursor_;
    Table* table = nullptr;
    if (!fat_.count(index) && FAILED(LoadFat(index, &table))) scanCursor_ = tailCursor_ = 0;  // damaged: stop looking
  }
  while (!free_.empty() && InUse(*free_.begin())) free_.erase(free_.begin());
  if (!free_.empty()) {
    *sector = *free_.begin();
    used_.Insert(*sector);
    return Set(*sector, kEndOfChain);
  }
  HRESULT hr = AppendSector(sector);
  if (FAILED(hr) || FAILED(hr = EnsureCovered(*sector))) return hr;
  used_.Insert(*sector);
  return Set(*sector, kEndOfChain);
}

HRESULT Fat::ApplyLinks() {
  for (const auto& [from, to] : links_) {
    const HRESULT hr = Set(from, to);
    if (FAILED(hr)) return hr;
  }
  links_.clear();
  return S_OK;
}

template <typename Ready>
HRESULT Fat::WriteTable(Table& table, size_t entryCount, Ready ready) {
  if (table.isNew) {
    std::vector<uint8_t> bytes(header_.SectorSize());
    for (size_t i = 0; i < entryCount; ++i) Store32(bytes.data() + 4 * i, table.entries[i]);
    const HRESULT hr = io_.WriteAt(header_.SectorOffset(table.location), bytes.data(), bytes.size());
    if (FAILED(hr)) return hr;
    table.isNew = false;
    table.dirty.clear();
    return S_OK;
  }
  // Only the entries that changed, one write per run of neighbours.
  bool held = false;
  for (uint32_t first = 0; first < table.dirty.size(); ++first) {
    if (!table.dirty[first]) continue;
    if (!ready(table.entries[first])) {
      held = true;
      continue;
    }
    uint32_t last = first;
    while (last + 1 < table.dirty.size() && table.dirty[last + 1] && ready(table.entries[last + 1])) ++last;
    std::vector<uint8_t> bytes(4 * (last - first + 1));
    for (uint32_t i = first; i <= last; ++i) {
      Store32(bytes.data() + 4 * (i - first), table.entries[i]);
      table.dirty[i] = false;
    }
    const HRESULT hr = io_.WriteAt(header_.SectorOffset(table.location) + 4 * first, bytes.data(), bytes.size());
    if (FAILED(hr)) return hr;
    first = last;
  }
  if (!held) table.dirty.clear();
  return S_OK;
}

HRESULT Fat::Flush() {
  const size_t entries = header_.EntriesPerFatSector();
  // A link may name only a sector the FAT on disk covers: a reader of the
  // header on disk must find that sector's own entry.
  const uint64_t covered = static_cast<uint64_t>(coveredOnDisk_) * entries;
  auto ready = [covered](uint32_t value) { return value < covered || value > kMaxRegSect; };
  // New sectors first: until a DIFAT slot or header names them, no reader looks.
  for (int pass = 0; pass < 2; ++pass) {
    const bool newOnes = pass == 0;
    for (auto* tables : {&fat_, &difat_}) {
      for (auto& [index, table] : *tables) {
        if (table.isNew != newOnes || (!newOnes && tables == &difat_)) continue;
        const HRESULT hr = WriteTable(table, entries, ready);
        if (FAILED(hr)) return hr;
      }
    }
  }
  return S_OK;
}

HRESULT Fat::FlushDifat() {
  for (auto& [index, table] : difat_) {
    const HRESULT hr = WriteTable(table, header_.EntriesPerFatSector(), [](uint32_t) { return true; });
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

ChainedStream::ChainedStream(FileIo& io, const Header& header, Fat& fat, uint32_t* startField)
    : io_(io), header_(header), fat_(fat), startField_(startField) {}

HRESULT ChainedStream::WalkTo(uint32_t index) {
  while (!complete_ && chain_.size() <= index) {
    uint32_t next = *startField_;
    if (!chain_.empty()) {
      const HRESULT hr = fat_.Next(chain_.back(), &next);
      if (FAILED(hr)) return hr;
    } else if (next == kFreeSect) {
      next = kEndOfChain;  // some writers leave an empty table's start free
    }
    if (next == kEndOfChain) {
      complete_ = true;
      break;
    }
    // Appended sectors join chain_ directly; anything walked comes from the file.
    if (next >= fat_.FileSectorCount() || !seen_.insert(next).second) return STG_E_DOCFILECORRUPT;
    chain_.push_back(next);
    // The directory, mini FAT and mini stream never share a sector with each
    // other or with the FAT: a cross-linked file is not written into.
    if (!fat_.NoteUsed(next)) return STG_E_DOCFILECORRUPT;
  }
  return S_OK;
}

HRESULT ChainedStream::ReadSectorAt(uint32_t index, uint32_t* sector, std::vector<uint8_t>& bytes) {
  *sector = kFreeSect;
  HRESULT hr = SectorAt(index, sector);
  if (FAILED(hr)) return hr;
  bytes.resize(header_.SectorSize());
  return ReadSector(io_, header_, fat_.SectorCount(), *sector, bytes.data());
}

HRESULT ChainedStream::SectorAt(uint32_t index, uint32_t* sector) {
  const HRESULT hr = WalkTo(index);
  if (FAILED(hr)) return hr;
  if (index >= chain_.size()) return STG_E_DOCFILECORRUPT;
  *sector = chain_[index];
  return S_OK;
}

HRESULT ChainedStream::Length(uint32_t* sectors) {
  const HRESULT hr = WalkTo(UINT32_MAX - 1);
  if (FAILED(hr)) return hr;
  *sectors = static_cast<uint32_t>(chain_.size());
  return S_OK;
}

HRESULT ChainedStream::Append(uint32_t* sector) {
  uint32_t length = 0;
  HRESULT hr = Length(&length);
  if (FAILED(hr) || FAILED(hr = fat_.Allocate(sector))) return hr;
  const std::vector<uint8_t> zeros(header_.SectorSize(), 0);
  hr = io_.WriteAt(header_.SectorOffset(*sector), zeros.data(), zeros.size());
  if (FAILED(hr)) return hr;
  if (chain_.empty())
    *startField_ = *sector;
  else
    fat_.DeferLink(chain_.back(), *sector);
  chain_.push_back(*sector);
  seen_.insert(*sector);
  return S_OK;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
