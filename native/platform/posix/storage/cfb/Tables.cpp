#include "Tables.h"

#include <algorithm>
#include <cstring>

#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

MiniFat::MiniFat(FileIo& io, Header& header, Fat& fat)
    : io_(io), header_(header), fat_(fat), chain_(io, header, fat, &header.firstMiniFatSector) {}

HRESULT MiniFat::Load(uint32_t index, Table** out) {
  auto found = tables_.find(index);
  if (found != tables_.end()) {
    *out = &found->second;
    return S_OK;
  }
  if (index >= header_.numMiniFatSectors) return STG_E_DOCFILECORRUPT;
  uint32_t location = kFreeSect;
  std::vector<uint8_t> bytes;
  HRESULT hr = chain_.ReadSectorAt(index, &location, bytes);
  if (FAILED(hr)) return hr;
  Table table;
  table.location = location;
  table.entries.resize(header_.EntriesPerFatSector());
  for (size_t i = 0; i < table.entries.size(); ++i) table.entries[i] = Load32(bytes.data() + 4 * i);
  *out = &(tables_[index] = std::move(table));
  return S_OK;
}

HRESULT MiniFat::Next(uint32_t mini, uint32_t* next) {
  Table* table = nullptr;
  const HRESULT hr = Load(mini / header_.EntriesPerFatSector(), &table);
  if (FAILED(hr)) return hr;
  *next = table->entries[mini % header_.EntriesPerFatSector()];
  return S_OK;
}

HRESULT MiniFat::Chain(uint32_t start, uint64_t count, uint32_t limit, std::vector<uint32_t>& out) {
  return FollowChain(start, count, limit, [this](uint32_t mini, uint32_t* next) { return Next(mini, next); }, out);
}

HRESULT MiniFat::Grow() {
  const uint32_t index = header_.numMiniFatSectors;
  uint32_t length = 0;
  HRESULT hr = chain_.Length(&length);
  if (FAILED(hr)) return hr;
  uint32_t location = kFreeSect;
  // A chain longer than the count (an update stopped half way) is reused.
  hr = index < length ? chain_.SectorAt(index, &location) : chain_.Append(&location);
  if (FAILED(hr)) return hr;
  Table table;
  table.location = location;
  table.entries.assign(header_.EntriesPerFatSector(), kFreeSect);
  table.isNew = true;
  tables_[index] = std::move(table);
  ++header_.numMiniFatSectors;
  return S_OK;
}

HRESULT MiniFat::Set(uint32_t mini, uint32_t value) {
  const uint32_t index = mini / header_.EntriesPerFatSector();
  while (index >= header_.numMiniFatSectors) {
    const HRESULT hr = Grow();
    if (FAILED(hr)) return hr;
  }
  Table* table = nullptr;
  const HRESULT hr = Load(index, &table);
  if (FAILED(hr)) return hr;
  const uint32_t slot = mini % header_.EntriesPerFatSector();
  table->entries[slot] = value;
  if (!table->isNew) table->dirty.insert(slot);
  return S_OK;
}

HRESULT MiniFat::FindFree(uint32_t limit, size_t count, std::vector<uint32_t>& out) {
  out.clear();
  const uint32_t per = header_.EntriesPerFatSector();
  const uint32_t tables = std::min<uint32_t>(header_.numMiniFatSectors, (limit + per - 1) / per);
  for (uint32_t index = 0; index < tables && out.size() < count; ++index) {
    Table* table = nullptr;
    const HRESULT hr = Load(index, &table);
    if (FAILED(hr)) return hr;
    for (uint32_t slot = 0; slot < per && out.size() < count; ++slot) {
      const uint64_t mini = static_cast<uint64_t>(index) * per + slot;
      if (mini >= limit) break;
      if (table->entries[slot] == kFreeSect) out.push_back(static_cast<uint32_t>(mini));
    }
  }
  return S_OK;
}

HRESULT MiniFat::Flush() {
  for (int pass = 0; pass < 2; ++pass) {
    for (auto& [index, table] : tables_) {
      if (table.isNew != (pass == 0)) continue;
      if (table.isNew) {
        std::vector<uint8_t> bytes(header_.SectorSize());
        for (size_t i = 0; i < table.entries.size(); ++i) Store32(bytes.data() + 4 * i, table.entries[i]);
        const HRESULT hr = io_.WriteAt(header_.SectorOffset(table.location), bytes.data(), bytes.size());
        if (FAILED(hr)) return hr;
        table.isNew = false;
      } else {
        for (uint32_t slot : table.dirty) {
          uint8_t bytes[4];
          Store32(bytes, table.entries[slot]);
          const HRESULT hr = io_.WriteAt(header_.SectorOffset(table.location) + 4 * slot, bytes, sizeof(bytes));
          if (FAILED(hr)) return hr;
        }
      }
      table.dirty.clear();
    }
  }
  return S_OK;
}

Directory::Directory(FileIo& io, Header& header, Fat& fat)
    : io_(io), header_(header), fat_(fat), chain_(io, header, fat, &header.firstDirSector) {}

HRESULT Directory::LoadSector(uint32_t index, std::vector<uint8_t>** out) {
  auto found = sectors_.find(index);
  if (found != sectors_.end()) {
    *out = &found->second;
    return S_OK;
  }
  uint32_t location = kFreeSect;
  std::vector<uint8_t> bytes;
  HRESULT hr = chain_.ReadSectorAt(index, &location, bytes);
  if (FAILED(hr)) return hr;
  *out = &(sectors_[index] = std::move(bytes));
  return S_OK;
}

HRESULT Directory::Get(uint32_t id, DirEntry& out) {
  if (id > kMaxRegSid) return STG_E_DOCFILECORRUPT;
  std::vector<uint8_t>* sector = nullptr;
  const HRESULT hr = LoadSector(id / PerSector(), &sector);
  if (FAILED(hr)) return hr;
  return ParseDirEntry(sector->data() + (id % PerSector()) * kDirEntrySize, header_.majorVersion, out);
}

HRESULT Directory::Put(uint32_t id, const DirEntry& entry) {
  std::vector<uint8_t>* sector = nullptr;
  HRESULT hr = LoadSector(id / PerSector(), &sector);
  if (FAILED(hr)) return hr;
  uint32_t location = kFreeSect;
  hr = chain_.SectorAt(id / PerSector(), &location);
  if (FAILED(hr)) return hr;
  uint8_t* bytes = sector->data() + (id % PerSector()) * kDirEntrySize;
  SerializeDirEntry(entry, bytes);
  return io_.WriteAt(header_.SectorOffset(location) + (id % PerSector()) * kDirEntrySize, bytes, kDirEntrySize);
}

HRESULT Directory::FreeSlots(size_t count, std::vector<uint32_t>& out) {
  out.clear();
  uint32_t length = 0;
  HRESULT hr = chain_.Length(&length);
  if (FAILED(hr)) return hr;
  for (uint32_t index = 0; index < length && out.size() < count; ++index) {
    std::vector<uint8_t>* sector = nullptr;
    if (FAILED(hr = LoadSector(index, &sector))) return hr;
    for (uint32_t slot = 0; slot < PerSector() && out.size() < count; ++slot)
      if ((*sector)[slot * kDirEntrySize + kDirObjectType] == kTypeUnallocated) out.push_back(index * PerSector() + slot);
  }
  while (out.size() < count) {
    uint32_t location = kFreeSect;
    if (FAILED(hr = chain_.Append(&location))) return hr;
    std::vector<uint8_t> bytes(header_.SectorSize());
    for (uint32_t slot = 0; slot < PerSector(); ++slot) SerializeDirEntry(DirEntry(), bytes.data() + slot * kDirEntrySize);
    if (FAILED(hr = io_.WriteAt(header_.SectorOffset(location), bytes.data(), bytes.size()))) return hr;
    sectors_[length] = std::move(bytes);
    if (header_.majorVersion == kMajorVersion4) ++header_.numDirSectors;
    for (uint32_t slot = 0; slot < PerSector() && out.size() < count; ++slot) out.push_back(length * PerSector() + slot);
    ++length;
  }
  return S_OK;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
