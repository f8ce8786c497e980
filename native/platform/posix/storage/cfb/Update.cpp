#include "Update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "../../process/SystemLog.h"
#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

namespace {

const char16_t kRootEntryName[] = u"Root Entry";

std::string Hex(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Copies the FAT's fields into the header as read: its counts, the DIFAT
// slots, the first DIFAT sector. Every other byte stays as the file had it.
void PatchFatFields(const Header& h, uint8_t (&bytes)[kHeaderSize]) {
  Store32(bytes + kHeaderNumFatSectors, h.numFatSectors);
  Store32(bytes + kHeaderFirstDifatSector, h.firstDifatSector);
  Store32(bytes + kHeaderNumDifatSectors, h.numDifatSectors);
  for (size_t i = 0; i < kHeaderDifatEntries; ++i) Store32(bytes + kHeaderDifat + 4 * i, h.difat[i]);
}

// The rest the engine maintains: where the directory and mini FAT start and
// how long they are.
void PatchSizes(const Header& h, uint8_t (&bytes)[kHeaderSize]) {
  if (h.majorVersion == kMajorVersion4) Store32(bytes + kHeaderNumDirSectors, h.numDirSectors);
  Store32(bytes + kHeaderFirstDirSector, h.firstDirSector);
  Store32(bytes + kHeaderFirstMiniFatSector, h.firstMiniFatSector);
  Store32(bytes + kHeaderNumMiniFatSectors, h.numMiniFatSectors);
}

// Writes the header as on disk with `patch` applied, when that changes it.
template <typename Patch>
HRESULT WriteHeader(View& v, Patch patch) {
  uint8_t bytes[kHeaderSize];
  std::memcpy(bytes, v.headerBytes, sizeof(bytes));
  patch(v.header, bytes);
  if (std::memcmp(bytes, v.headerBytes, sizeof(bytes)) == 0) return S_OK;
  const HRESULT hr = v.io.WriteAt(0, bytes, sizeof(bytes));
  if (SUCCEEDED(hr)) std::memcpy(v.headerBytes, bytes, sizeof(bytes));
  return hr;
}

bool SameEntry(const DirEntry& a, const DirEntry& b) {
  uint8_t x[kDirEntrySize], y[kDirEntrySize];
  SerializeDirEntry(a, x);
  SerializeDirEntry(b, y);
  return std::memcmp(x, y, sizeof(x)) == 0;
}

HRESULT WriteMiniChain(View& v, const std::vector<uint8_t>& data, const std::vector<uint32_t>& keep, uint32_t* start) {
  const size_t count = (data.size() + kMiniSectorSize - 1) / kMiniSectorSize;
  const uint32_t limit = v.MiniSectorCount();
  std::vector<uint32_t> ids;
  HRESULT hr = v.miniFat.FindFree(limit, count + keep.size(), ids);
  if (FAILED(hr)) return hr;
  // A damaged mini FAT may call the old stream's sectors free: never reuse them.
  ids.erase(std::remove_if(ids.begin(), ids.end(),
                           [&](uint32_t id) { return std::find(keep.begin(), keep.end(), id) != keep.end(); }),
            ids.end());
  if (ids.size() > count) ids.resize(count);
  for (uint32_t next = limit; ids.size() < count; ++next) ids.push_back(next);
  // Grow the mini stream to hold the new mini sectors.
  const uint64_t needed = (static_cast<uint64_t>(ids.back()) + 1) * kMiniSectorSize;
  if (needed > v.root.streamSize) {
    uint32_t length = 0;
    if (FAILED(hr = v.miniStream.Length(&length))) return hr;
    for (; static_cast<uint64_t>(length) * v.header.SectorSize() < needed; ++length) {
      uint32_t sector = kFreeSect;
      if (FAILED(hr = v.miniStream.Append(&sector))) return hr;
    }
    v.root.streamSize = needed;
  }
  // The data, one write per run of adjacent mini sectors.
  std::vector<uint8_t> padded(data);
  padded.resize(count * kMiniSectorSize, 0);
  for (size_t i = 0; i < count;) {
    uint64_t offset = 0;
    if (FAILED(hr = v.MiniSectorOffset(ids[i], &offset))) return hr;
    size_t run = 1;
    for (uint64_t next = 0; i + run < count; ++run) {
      if (ids[i + run] != ids[i] + run || FAILED(v.MiniSectorOffset(ids[i + run], &next)) ||
          next != offset + run * kMiniSectorSize)
        break;
    }
    if (FAILED(hr = v.io.WriteAt(offset, padded.data() + i * kMiniSectorSize, run * kMiniSectorSize))) return hr;
    i += run;
  }
  for (size_t i = 0; i < count; ++i)
    if (FAILED(hr = v.miniFat.Set(ids[i], i + 1 < count ? ids[i + 1] : kEndOfChain))) return hr;
  *start = ids[0];
  return S_OK;
}

HRESULT WriteRegularChain(View& v, const std::vector<uint8_t>& data, uint32_t* start) {
  const size_t sectorSize = v.header.SectorSize();
  const size_t count = (data.size() + sectorSize - 1) / sectorSize;
  std::vector<uint32_t> sectors(count);
  HRESULT hr = S_OK;
  for (size_t i = 0; i < count; ++i)
    if (FAILED(hr = v.fat.Allocate(&sectors[i]))) return hr;
  for (size_t i = 0; i + 1 < count; ++i)
    if (FAILED(hr = v.fat.Set(sectors[i], sectors[i + 1]))) return hr;
  for (size_t i = 0; i < count;) {
    size_t run = 1;
    while (i + run < count && sectors[i + run] == sectors[i] + run) ++run;
    const size_t begin = i * sectorSize;
    const size_t available = std::min(run * sectorSize, data.size() - begin);
    if (FAILED(hr = v.io.WriteAt(v.header.SectorOffset(sectors[i]), data.data() + begin, available))) return hr;
    if (available < run * sectorSize) {  // pad the last sector so the file covers it
      const std::vector<uint8_t> zeros(run * sectorSize - available, 0);
      if (FAILED(hr = v.io.WriteAt(v.header.SectorOffset(sectors[i]) + available, zeros.data(), zeros.size())))
        return hr;
    }
    i += run;
  }
  *start = count ? sectors[0] : kEndOfChain;
  return S_OK;
}

// Walks every chain an update may touch before anything is allocated, so a
// damaged FAT that calls one of their sectors free cannot hand it out (and a
// damaged chain stops the update before it writes). `keep` receives the mini
// sectors of `old`, the stream being replaced, if it lives in the mini stream.
HRESULT ClaimChains(View& v, const DirEntry* old, std::vector<uint32_t>& keep) {
  uint32_t length = 0;
  HRESULT hr = S_OK;
  if (FAILED(hr = v.fat.ClaimTables()) || FAILED(hr = v.directory.WalkChain()) ||
      FAILED(hr = v.miniFat.WalkChain()) || FAILED(hr = v.miniStream.Length(&length)))
    return hr;
  if (old && old->streamSize > 0 && old->startSector != kEndOfChain) {
    std::vector<uint32_t> sectors;
    if (old->streamSize < kMiniStreamCutoff)
      hr = v.miniFat.Chain(old->startSector, (old->streamSize + kMiniSectorSize - 1) / kMiniSectorSize,
                           v.MiniSectorCount(), keep);
    else  // walking the chain marks its sectors used in the Fat
      hr = v.fat.Chain(old->startSector, (old->streamSize + v.header.SectorSize() - 1) / v.header.SectorSize(),
                       sectors);
  }
  return hr;
}

HRESULT WriteChain(View& v, const std::vector<uint8_t>& data, const std::vector<uint32_t>& keep, uint32_t* start) {
  *start = kEndOfChain;
  if (data.empty()) return S_OK;
  return data.size() < kMiniStreamCutoff ? WriteMiniChain(v, data, keep, start) : WriteRegularChain(v, data, start);
}

// Frees the chain of a stream no entry refers to any more. A damaged chain
// is left alone: its sectors stay allocated, the file stays valid.
HRESULT FreeChain(View& v, const DirEntry& entry) {
  if (entry.objectType != kTypeStream || entry.streamSize == 0 || entry.startSector == kEndOfChain) return S_OK;
  std::vector<uint32_t> chain;
  HRESULT hr = S_OK;
  if (entry.streamSize < kMiniStreamCutoff) {
    const uint64_t count = (entry.streamSize + kMiniSectorSize - 1) / kMiniSectorSize;
    if (FAILED(v.miniFat.Chain(entry.startSector, count, v.MiniSectorCount(), chain))) return S_OK;
    for (uint32_t mini : chain)
      if (FAILED(hr = v.miniFat.Set(mini, kFreeSect))) return hr;
  } else {
    const uint64_t count = (entry.streamSize + v.header.SectorSize() - 1) / v.header.SectorSize();
    if (FAILED(v.fat.Chain(entry.startSector, count, chain))) return S_OK;
    for (uint32_t sector : chain)
      if (FAILED(hr = v.fat.Set(sector, kFreeSect))) return hr;
  }
  return S_OK;
}

// Steps 1 to 4: the staged tables reach the disk, then the growth is linked.
// With `rootLater`, the root entry's mini stream fields wait for the switch,
// which rewrites that entry anyway.
HRESULT PublishStaged(View& v, bool rootLater) {
  HRESULT hr = S_OK;
  if (FAILED(hr = v.fat.Flush()) || FAILED(hr = v.miniFat.Flush()) || FAILED(hr = v.io.Sync())) return hr;
  if (v.fat.Grew()) {
    // Old DIFAT sectors naming the new FAT sectors, then the header that
    // counts them: each lands only after what it names is on disk.
    if (FAILED(hr = v.fat.FlushDifat()) || FAILED(hr = v.io.Sync())) return hr;
    if (FAILED(hr = WriteHeader(v, PatchFatFields)) || FAILED(hr = v.io.Sync())) return hr;
    v.fat.HeaderWritten();
    // The header on disk names the DIFAT copies now: the chain they replace goes.
    if (FAILED(hr = v.fat.FreeReplacedDifat())) return hr;
  }
  // The links into new sectors, then (after a sync) the sizes that reach
  // them: a chain longer than its size is harmless, a size beyond it is not.
  if (FAILED(hr = v.fat.ApplyLinks()) || FAILED(hr = v.fat.Flush()) || FAILED(hr = v.io.Sync())) return hr;
  if (FAILED(hr = WriteHeader(v, PatchSizes))) return hr;
  // The mini stream's new size, before any entry points into the new part.
  if (rootLater) return v.io.Sync();
  DirEntry root = v.rootAsRead;
  root.startSector = v.root.startSector;
  root.streamSize = v.root.streamSize;
  if (!SameEntry(root, v.rootAsRead)) {
    if (FAILED(hr = v.directory.Put(0, root))) return hr;
    v.rootAsRead = root;
  }
  return v.io.Sync();
}

// The file holds the old bytes of everything an update overwrites until its
// switch is on disk: a failure before that puts them back, so a failed call
// changes nothing. A failure after it (freeing the old sectors) leaves the
// change made and some sectors allocated that nothing uses: it is logged and
// the call succeeds.
class Transaction {
 public:
  explicit Transaction(FileIo& io) : io_(io) {}
  ~Transaction() {
    if (open_) io_.EndUndo();
  }
  HRESULT Begin() {
    const HRESULT hr = io_.BeginUndo();
    open_ = SUCCEEDED(hr);
    return hr;
  }
  // The switch failed or never came: `hr` is the caller's answer.
  HRESULT Abandon(HRESULT hr) {
    open_ = false;
    const HRESULT undone = io_.Rollback();
    if (FAILED(undone))
      LogWarningOnce("compound file: putting back the bytes of a failed update (" + Hex(hr) + ") failed with " +
                     Hex(undone) + "; the file holds the old content");
    return hr;
  }
  void Switched() {
    open_ = false;
    switched_ = true;
    io_.EndUndo();
  }
  // A failure that may come before or after the switch.
  HRESULT Settle(HRESULT hr) { return switched_ ? Freed(hr) : Abandon(hr); }
  // Step 6's outcome: the change is in the file whatever it says.
  HRESULT Freed(HRESULT hr) {
    if (FAILED(hr))
      LogWarningOnce("compound file: the update is written, but freeing the old sectors failed with " + Hex(hr) +
                     "; they stay allocated, unused");
    io_.ForgoSync();  // step 6 only frees
    return S_OK;
  }

 private:
  FileIo& io_;
  bool open_ = false;
  bool switched_ = false;
};

// Step 6 for a change of the root's set of names.
HRESULT FreeTree(View& v, const std::vector<Child>& oldChildren, const DirEntry* oldStream) {
  HRESULT hr = S_OK;
  if (oldStream && FAILED(hr = FreeChain(v, *oldStream))) return hr;
  for (const Child& child : oldChildren)
    if (FAILED(hr = v.directory.Put(child.id, DirEntry()))) return hr;
  if (FAILED(hr = v.fat.Flush()) || FAILED(hr = v.miniFat.Flush())) return hr;
  return S_OK;
}

// Steps 1 to 6 for a change of the root's set of names, its new tree staged.
HRESULT SwitchTree(View& v, Transaction& t, uint32_t top, const std::vector<Child>& oldChildren,
                   const DirEntry* oldStream) {
  HRESULT hr = PublishStaged(v, true);
  if (FAILED(hr)) return t.Abandon(hr);
  v.root.child = top;
  if (FAILED(hr = v.directory.Put(0, v.root)) || FAILED(hr = v.io.Sync())) return t.Abandon(hr);
  t.Switched();
  v.rootAsRead = v.root;
  return t.Freed(FreeTree(v, oldChildren, oldStream));
}

std::vector<DirEntry> Entries(const std::vector<Child>& children) {
  std::vector<DirEntry> members;
  members.reserve(children.size() + 1);
  for (const Child& child : children) members.push_back(child.entry);
  return members;
}

}  // namespace

HRESULT WriteEmptyFile(FileIo& io, uint16_t majorVersion) {
  if (majorVersion != kMajorVersion3 && majorVersion != kMajorVersion4) return STG_E_INVALIDPARAMETER;
  Header header;
  header.majorVersion = majorVersion;
  header.sectorShift = majorVersion == kMajorVersion4 ? kSectorShift4 : kSectorShift3;
  header.numFatSectors = 1;
  header.difat[0] = 0;
  header.firstDirSector = 1;
  header.numDirSectors = majorVersion == kMajorVersion4 ? 1 : 0;
  const size_t sectorSize = header.SectorSize();
  // Header sector, FAT sector 0, directory sector 1.
  std::vector<uint8_t> bytes(3 * sectorSize, 0);
  uint8_t headerBytes[kHeaderSize];
  SerializeHeader(header, headerBytes);
  std::memcpy(bytes.data(), headerBytes, sizeof(headerBytes));
  uint8_t* fat = bytes.data() + sectorSize;
  for (size_t i = 0; i < sectorSize / 4; ++i) Store32(fat + 4 * i, kFreeSect);
  Store32(fat, kFatSect);
  Store32(fat + 4, kEndOfChain);
  uint8_t* directory = bytes.data() + 2 * sectorSize;
  DirEntry root;
  root.name = kRootEntryName;
  root.objectType = kTypeRoot;
  root.color = kBlack;
  root.startSector = kEndOfChain;
  SerializeDirEntry(root, directory);
  for (size_t i = 1; i < sectorSize / kDirEntrySize; ++i) SerializeDirEntry(DirEntry(), directory + i * kDirEntrySize);
  HRESULT hr = io.Truncate(0);
  if (FAILED(hr) || FAILED(hr = io.WriteAt(0, bytes.data(), bytes.size()))) return hr;
  return io.Sync();
}

HRESULT StageTree(View& v, std::vector<DirEntry> members, std::vector<uint32_t> slots, uint32_t* top) {
  *top = kNoStream;
  if (members.empty()) return S_OK;
  std::stable_sort(members.begin(), members.end(),
                   [](const DirEntry& a, const DirEntry& b) { return CompareNames(a.name, b.name) < 0; });
  HRESULT hr = S_OK;
  if (slots.size() < members.size()) {
    std::vector<uint32_t> more;
    if (FAILED(hr = v.directory.FreeSlots(members.size(), more))) return hr;
    slots = std::move(more);
  }
  // Split at the median: every level but the last is full. The last level
  // is red unless the tree is perfect; everything else is black. That keeps
  // the black height equal on every path and no red node under a red one.
  size_t height = 0;
  while ((size_t{1} << height) - 1 < members.size()) ++height;
  const bool perfect = (size_t{1} << height) - 1 == members.size();
  struct Builder {
    View& v;
    std::vector<DirEntry>& members;
    std::vector<uint32_t>& slots;
    size_t lastLevel;
    bool perfect;
    HRESULT hr = S_OK;
    uint32_t Build(size_t lo, size_t hi, size_t depth) {
      if (lo >= hi || FAILED(hr)) return kNoStream;
      const size_t mid = lo + (hi - lo) / 2;
      DirEntry entry = members[mid];
      entry.leftSibling = Build(lo, mid, depth + 1);
      entry.rightSibling = Build(mid + 1, hi, depth + 1);
      entry.color = (!perfect && depth == lastLevel) ? kRed : kBlack;
      if (SUCCEEDED(hr)) hr = v.directory.Put(slots[mid], entry);
      return slots[mid];
    }
  } builder{v, members, slots, height - 1, perfect};
  *top = builder.Build(0, members.size(), 0);
  return builder.hr;
}

HRESULT WriteRootStream(View& v, const std::u16string& name, const std::vector<uint8_t>& data) {
  if (!IsValidName(name)) return STG_E_INVALIDNAME;
  Transaction t(v.io);
  try {
    Child existing;
    HRESULT hr = v.Find(0, name, &existing);
    const bool exists = SUCCEEDED(hr);
    if (FAILED(hr) && hr != STG_E_FILENOTFOUND) return hr;
    if (exists && existing.entry.objectType != kTypeStream) return STG_E_ACCESSDENIED;

    std::vector<uint32_t> keep;
    if (FAILED(hr = ClaimChains(v, exists ? &existing.entry : nullptr, keep))) return hr;
    if (FAILED(hr = t.Begin())) return hr;
    // Directory slots first: a directory that must grow then grows near its
    // start rather than behind a big new stream, where reaching it would
    // mean walking the DIFAT.
    std::vector<Child> children;
    std::vector<uint32_t> slots;
    if (!exists && (FAILED(hr = v.Children(0, children)) ||
                    FAILED(hr = v.directory.FreeSlots(children.size() + 1, slots))))
      return t.Abandon(hr);
    uint32_t start = kEndOfChain;
    if (FAILED(hr = WriteChain(v, data, keep, &start))) return t.Abandon(hr);
    if (exists) {
      if (FAILED(hr = PublishStaged(v, false))) return t.Abandon(hr);
      DirEntry updated = existing.entry;
      updated.startSector = start;
      updated.streamSize = data.size();
      if (FAILED(hr = v.directory.Put(existing.id, updated)) || FAILED(hr = v.io.Sync())) return t.Abandon(hr);
      t.Switched();
      hr = FreeChain(v, existing.entry);
      if (SUCCEEDED(hr) && SUCCEEDED(hr = v.fat.Flush())) hr = v.miniFat.Flush();
      return t.Freed(hr);
    }
    std::vector<DirEntry> members = Entries(children);
    DirEntry created;
    created.name = name;
    created.objectType = kTypeStream;
    created.startSector = start;
    created.streamSize = data.size();
    members.push_back(created);
    uint32_t top = kNoStream;
    if (FAILED(hr = StageTree(v, std::move(members), std::move(slots), &top))) return t.Abandon(hr);
    return SwitchTree(v, t, top, children, nullptr);
  } catch (const std::bad_alloc&) {
    return t.Settle(E_OUTOFMEMORY);
  }
}

HRESULT DeleteRootStream(View& v, const std::u16string& name) {
  Transaction t(v.io);
  try {
    Child victim;
    HRESULT hr = v.Find(0, name, &victim);
    if (FAILED(hr)) return hr;
    if (victim.entry.objectType != kTypeStream) return STG_E_ACCESSDENIED;
    std::vector<uint32_t> keep;
    if (FAILED(hr = ClaimChains(v, &victim.entry, keep))) return hr;
    std::vector<Child> children;
    if (FAILED(hr = v.Children(0, children))) return hr;
    std::vector<DirEntry> members;
    for (const Child& child : children)
      if (child.id != victim.id) members.push_back(child.entry);
    if (FAILED(hr = t.Begin())) return hr;
    uint32_t top = kNoStream;
    if (FAILED(hr = StageTree(v, std::move(members), {}, &top))) return t.Abandon(hr);
    return SwitchTree(v, t, top, children, &victim.entry);
  } catch (const std::bad_alloc&) {
    return t.Settle(E_OUTOFMEMORY);
  }
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
