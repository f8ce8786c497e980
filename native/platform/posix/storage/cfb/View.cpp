#include "View.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

namespace {
constexpr size_t kMaxDepth = 256;  // nested storages followed by Walk

bool IsContainer(uint8_t type) { return type == kTypeStorage || type == kTypeRoot; }
}  // namespace

View::View(FileIo& file, const Header& h, uint32_t sectorCount)
    : io(file),
      header(h),
      fat(file, header, sectorCount),
      miniFat(file, header, fat),
      directory(file, header, fat),
      miniStream(file, header, fat, &root.startSector) {}

HRESULT View::Load(FileIo& io, uint64_t size, std::unique_ptr<View>& out) {
  uint8_t bytes[kHeaderSize];
  size_t got = 0;
  HRESULT hr = io.ReadAt(0, bytes, sizeof(bytes), &got);
  if (FAILED(hr)) return hr;
  if (!HasSignature(bytes, got)) return STG_E_FILEALREADYEXISTS;
  if (got < kHeaderSize) return STG_E_INVALIDHEADER;
  Header header;
  if (FAILED(hr = ParseHeader(bytes, header))) return hr;
  const uint64_t sectorSize = header.SectorSize();
  const uint64_t sectors = size > sectorSize ? (size - sectorSize + sectorSize - 1) / sectorSize : 0;
  if (sectors > kMaxRegSect) return STG_E_DOCFILECORRUPT;
  const uint32_t sectorCount = static_cast<uint32_t>(sectors);
  // Counts the file cannot hold: truncated or forged.
  if (header.numFatSectors > sectorCount || header.numDifatSectors > sectorCount ||
      header.numMiniFatSectors > sectorCount || header.numDirSectors > sectorCount || sectorCount == 0)
    return STG_E_DOCFILECORRUPT;
  try {
    out.reset(new View(io, header, sectorCount));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(out->headerBytes, bytes, sizeof(bytes));
  View& view = *out;
  if (FAILED(hr = view.directory.Get(0, view.root))) return hr;
  if (view.root.objectType != kTypeRoot) return STG_E_DOCFILECORRUPT;
  // The mini stream lives in regular sectors; its size must fit in the file.
  if (view.root.streamSize > static_cast<uint64_t>(sectorCount) * sectorSize) return STG_E_DOCFILECORRUPT;
  view.rootAsRead = view.root;
  return S_OK;
}

HRESULT View::Children(uint32_t storageId, std::vector<Child>& out) {
  out.clear();
  DirEntry storage;
  HRESULT hr = directory.Get(storageId, storage);
  if (FAILED(hr)) return hr;
  if (!IsContainer(storage.objectType)) return STG_E_FILENOTFOUND;
  // In-order walk with an explicit stack; a node seen twice is a cycle.
  std::unordered_set<uint32_t> seen;
  std::vector<Child> stack;
  uint32_t current = storage.child;
  while (current != kNoStream || !stack.empty()) {
    while (current != kNoStream) {
      Child node;
      node.id = current;
      if (!seen.insert(current).second) return STG_E_DOCFILECORRUPT;
      if (FAILED(hr = directory.Get(current, node.entry))) return hr;
      if (node.entry.objectType != kTypeStorage && node.entry.objectType != kTypeStream) return STG_E_DOCFILECORRUPT;
      current = node.entry.leftSibling;
      stack.push_back(std::move(node));
    }
    Child node = std::move(stack.back());
    stack.pop_back();
    current = node.entry.rightSibling;
    out.push_back(std::move(node));
  }
  // Two entries of one name would make the storage ambiguous.
  std::vector<const std::u16string*> names;
  for (const Child& child : out) names.push_back(&child.entry.name);
  std::sort(names.begin(), names.end(),
            [](const std::u16string* a, const std::u16string* b) { return CompareNames(*a, *b) < 0; });
  for (size_t i = 1; i < names.size(); ++i)
    if (CompareNames(*names[i - 1], *names[i]) == 0) return STG_E_DOCFILECORRUPT;
  return S_OK;
}

HRESULT View::Find(uint32_t storageId, const std::u16string& name, Child* out) {
  DirEntry storage;
  HRESULT hr = directory.Get(storageId, storage);
  if (FAILED(hr)) return hr;
  if (!IsContainer(storage.objectType)) return STG_E_FILENOTFOUND;
  // Search the tree by the directory's order first ...
  std::unordered_set<uint32_t> seen;
  for (uint32_t current = storage.child; current != kNoStream;) {
    if (!seen.insert(current).second) return STG_E_DOCFILECORRUPT;
    DirEntry entry;
    if (FAILED(hr = directory.Get(current, entry))) return hr;
    if (entry.objectType != kTypeStorage && entry.objectType != kTypeStream) return STG_E_DOCFILECORRUPT;
    const int order = CompareNames(name, entry.name);
    if (order == 0) {
      out->id = current;
      out->entry = std::move(entry);
      return S_OK;
    }
    current = order < 0 ? entry.leftSibling : entry.rightSibling;
  }
  // ... then every entry, for writers that left the tree unsorted.
  std::vector<Child> children;
  if (FAILED(hr = Children(storageId, children))) return hr;
  for (Child& child : children) {
    if (CompareNames(name, child.entry.name) == 0) {
      *out = std::move(child);
      return S_OK;
    }
  }
  return STG_E_FILENOTFOUND;
}

HRESULT View::Resolve(const std::vector<std::u16string>& path, Child* out) {
  Child current;
  current.id = 0;
  current.entry = root;
  for (const std::u16string& name : path) {
    Child next;
    const HRESULT hr = Find(current.id, name, &next);
    if (FAILED(hr)) return hr;
    current = std::move(next);
  }
  *out = std::move(current);
  return S_OK;
}

uint32_t View::MiniSectorCount() const {
  return static_cast<uint32_t>((root.streamSize + kMiniSectorSize - 1) / kMiniSectorSize);
}

HRESULT View::MiniSectorOffset(uint32_t mini, uint64_t* offset) {
  const uint64_t position = static_cast<uint64_t>(mini) * kMiniSectorSize;
  uint32_t sector = kFreeSect;
  const HRESULT hr = miniStream.SectorAt(static_cast<uint32_t>(position / header.SectorSize()), &sector);
  if (FAILED(hr)) return hr;
  *offset = header.SectorOffset(sector) + position % header.SectorSize();
  return S_OK;
}

HRESULT View::ReadData(const DirEntry& stream, std::vector<uint8_t>& out) {
  out.clear();
  if (stream.objectType != kTypeStream) return STG_E_FILENOTFOUND;
  if (stream.streamSize == 0) return S_OK;
  try {
    return stream.streamSize < kMiniStreamCutoff ? ReadMini(stream, out) : ReadRegular(stream, out);
  } catch (const std::bad_alloc&) {
    out.clear();
    return E_OUTOFMEMORY;
  }
}

HRESULT View::ReadMini(const DirEntry& stream, std::vector<uint8_t>& out) {
  const uint64_t count = (stream.streamSize + kMiniSectorSize - 1) / kMiniSectorSize;
  std::vector<uint32_t> chain;
  HRESULT hr = miniFat.Chain(stream.startSector, count, MiniSectorCount(), chain);
  if (FAILED(hr)) return hr;
  out.resize(static_cast<size_t>(stream.streamSize));
  // One read per run of mini sectors that lie next to each other in the file.
  for (size_t i = 0; i < chain.size();) {
    uint64_t offset = 0;
    if (FAILED(hr = MiniSectorOffset(chain[i], &offset))) return hr;
    size_t run = 1;
    for (uint64_t next = 0; i + run < chain.size(); ++run) {
      if (chain[i + run] != chain[i] + run || FAILED(MiniSectorOffset(chain[i + run], &next)) ||
          next != offset + run * kMiniSectorSize)
        break;
    }
    const size_t begin = i * kMiniSectorSize;
    const size_t want = std::min<size_t>(run * kMiniSectorSize, out.size() - begin);
    size_t got = 0;
    if (FAILED(hr = io.ReadAt(offset, out.data() + begin, want, &got))) return hr;
    if (got < want) return STG_E_DOCFILECORRUPT;
    i += run;
  }
  return S_OK;
}

HRESULT View::RegularChain(const DirEntry& stream, std::vector<uint32_t>& chain) {
  const uint64_t sectorSize = header.SectorSize();
  // Also bounds the size by the file.
  return fat.Chain(stream.startSector, (stream.streamSize + sectorSize - 1) / sectorSize, chain);
}

HRESULT View::ReadRegularPart(const std::vector<uint32_t>& chain, uint64_t offset, size_t count, uint8_t* into) {
  const uint64_t sectorSize = header.SectorSize();
  // One read per run of consecutive sectors.
  for (size_t i = static_cast<size_t>(offset / sectorSize); count > 0;) {
    if (i >= chain.size()) return STG_E_DOCFILECORRUPT;
    size_t run = 1;
    const uint64_t skip = offset - i * sectorSize;
    while (i + run < chain.size() && chain[i + run] == chain[i] + run && run * sectorSize - skip < count) ++run;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(run * sectorSize - skip, count));
    size_t got = 0;
    HRESULT hr = io.ReadAt(header.SectorOffset(chain[i]) + skip, into, want, &got);
    if (FAILED(hr)) return hr;
    if (got < want) {
      // Only the file's last sector may be cut short.
      if (chain[i] + run != fat.SectorCount()) return STG_E_DOCFILECORRUPT;
      std::memset(into + got, 0, want - got);
    }
    into += want;
    offset += want;
    count -= want;
    i += run;
  }
  return S_OK;
}

HRESULT View::ReadRegular(const DirEntry& stream, std::vector<uint8_t>& out) {
  std::vector<uint32_t> chain;
  HRESULT hr = RegularChain(stream, chain);
  if (FAILED(hr)) return hr;
  out.resize(static_cast<size_t>(stream.streamSize));
  return ReadRegularPart(chain, 0, out.size(), out.data());
}

HRESULT View::Walk(std::vector<WalkEntry>& out) {
  out.clear();
  struct Pending {
    uint32_t id;
    std::vector<std::u16string> path;
  };
  std::vector<Pending> pending{{0, {}}};
  std::unordered_set<uint32_t> seen{0};  // every entry belongs to exactly one tree
  while (!pending.empty()) {
    Pending storage = std::move(pending.back());
    pending.pop_back();
    if (storage.path.size() > kMaxDepth) return STG_E_DOCFILECORRUPT;
    std::vector<Child> children;
    const HRESULT hr = Children(storage.id, children);
    if (FAILED(hr)) return hr;
    for (Child& child : children) {
      WalkEntry item;
      item.path = storage.path;
      item.path.push_back(child.entry.name);
      if (!seen.insert(child.id).second) return STG_E_DOCFILECORRUPT;
      if (child.entry.objectType == kTypeStorage) pending.push_back({child.id, item.path});
      item.entry = std::move(child.entry);
      out.push_back(std::move(item));
    }
  }
  return S_OK;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
