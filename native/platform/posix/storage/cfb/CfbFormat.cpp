#include "CfbFormat.h"

#include <algorithm>
#include <cstring>

#include "../../text/StringCompare.h"

namespace quorvane {
namespace posix {
namespace cfb {

Header::Header() { std::fill(std::begin(difat), std::end(difat), kFreeSect); }

bool HasSignature(const uint8_t* bytes, size_t count) {
  return count >= sizeof(kSignature) && std::memcmp(bytes, kSignature, sizeof(kSignature)) == 0;
}

HRESULT ParseHeader(const uint8_t (&bytes)[kHeaderSize], Header& out) {
  if (!HasSignature(bytes, kHeaderSize)) return STG_E_INVALIDHEADER;
  if (Load16(bytes + kHeaderByteOrder) != kByteOrderMark) return STG_E_INVALIDHEADER;
  out.minorVersion = Load16(bytes + kHeaderMinorVersion);
  out.majorVersion = Load16(bytes + kHeaderMajorVersion);
  out.sectorShift = Load16(bytes + kHeaderSectorShift);
  if (!(out.majorVersion == kMajorVersion3 && out.sectorShift == kSectorShift3) &&
      !(out.majorVersion == kMajorVersion4 && out.sectorShift == kSectorShift4))
    return STG_E_INVALIDHEADER;
  if (Load16(bytes + kHeaderMiniSectorShift) != kMiniSectorShift) return STG_E_INVALIDHEADER;
  if (Load32(bytes + kHeaderMiniStreamCutoff) != kMiniStreamCutoff) return STG_E_INVALIDHEADER;
  // Version 3 has no directory sector count; some writers leave noise there.
  out.numDirSectors = out.majorVersion == kMajorVersion4 ? Load32(bytes + kHeaderNumDirSectors) : 0;
  out.numFatSectors = Load32(bytes + kHeaderNumFatSectors);
  out.firstDirSector = Load32(bytes + kHeaderFirstDirSector);
  out.transactionSignature = Load32(bytes + kHeaderTransactionSignature);
  out.firstMiniFatSector = Load32(bytes + kHeaderFirstMiniFatSector);
  out.numMiniFatSectors = Load32(bytes + kHeaderNumMiniFatSectors);
  out.firstDifatSector = Load32(bytes + kHeaderFirstDifatSector);
  out.numDifatSectors = Load32(bytes + kHeaderNumDifatSectors);
  for (size_t i = 0; i < kHeaderDifatEntries; ++i) out.difat[i] = Load32(bytes + kHeaderDifat + 4 * i);
  if (out.firstDirSector > kMaxRegSect) return STG_E_INVALIDHEADER;
  return S_OK;
}

void SerializeHeader(const Header& h, uint8_t (&bytes)[kHeaderSize]) {
  std::memset(bytes, 0, kHeaderSize);
  std::memcpy(bytes + kHeaderSignature, kSignature, sizeof(kSignature));
  Store16(bytes + kHeaderMinorVersion, h.minorVersion);
  Store16(bytes + kHeaderMajorVersion, h.majorVersion);
  Store16(bytes + kHeaderByteOrder, kByteOrderMark);
  Store16(bytes + kHeaderSectorShift, h.sectorShift);
  Store16(bytes + kHeaderMiniSectorShift, kMiniSectorShift);
  Store32(bytes + kHeaderNumDirSectors, h.majorVersion == kMajorVersion4 ? h.numDirSectors : 0);
  Store32(bytes + kHeaderNumFatSectors, h.numFatSectors);
  Store32(bytes + kHeaderFirstDirSector, h.firstDirSector);
  Store32(bytes + kHeaderTransactionSignature, h.transactionSignature);
  Store32(bytes + kHeaderMiniStreamCutoff, kMiniStreamCutoff);
  Store32(bytes + kHeaderFirstMiniFatSector, h.firstMiniFatSector);
  Store32(bytes + kHeaderNumMiniFatSectors, h.numMiniFatSectors);
  Store32(bytes + kHeaderFirstDifatSector, h.firstDifatSector);
  Store32(bytes + kHeaderNumDifatSectors, h.numDifatSectors);
  for (size_t i = 0; i < kHeaderDifatEntries; ++i) Store32(bytes + kHeaderDifat + 4 * i, h.difat[i]);
}

HRESULT ParseDirEntry(const uint8_t* b, uint16_t majorVersion, DirEntry& out) {
  out = DirEntry();
  out.objectType = b[kDirObjectType];
  if (out.objectType == kTypeUnallocated) return S_OK;
  if (out.objectType != kTypeStorage && out.objectType != kTypeStream && out.objectType != kTypeRoot)
    return STG_E_DOCFILECORRUPT;
  const uint16_t nameBytes = Load16(b + kDirNameLength);
  if (nameBytes > kDirNameBytes || nameBytes % 2 != 0) return STG_E_DOCFILECORRUPT;
  // The length counts the terminating null; stop early at an embedded one.
  const size_t units = nameBytes >= 2 ? nameBytes / 2 - 1 : 0;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(Load16(b + kDirName + 2 * i));
    if (c == 0) break;
    out.name.push_back(c);
  }
  out.color = b[kDirColorFlag] == kRed ? kRed : kBlack;
  out.leftSibling = Load32(b + kDirLeftSibling);
  out.rightSibling = Load32(b + kDirRightSibling);
  out.child = Load32(b + kDirChild);
  std::memcpy(out.clsid, b + kDirClsid, sizeof(out.clsid));
  out.stateBits = Load32(b + kDirStateBits);
  out.creationTime = Load64(b + kDirCreationTime);
  out.modifiedTime = Load64(b + kDirModifiedTime);
  out.startSector = Load32(b + kDirStartSector);
  out.streamSize = Load64(b + kDirStreamSize);
  if (majorVersion == kMajorVersion3) out.streamSize &= 0xFFFFFFFFu;
  return S_OK;
}

void SerializeDirEntry(const DirEntry& e, uint8_t* b) {
  std::memset(b, 0, kDirEntrySize);
  if (e.objectType == kTypeUnallocated) {
    Store32(b + kDirLeftSibling, kNoStream);
    Store32(b + kDirRightSibling, kNoStream);
    Store32(b + kDirChild, kNoStream);
    return;
  }
  const size_t units = std::min(e.name.size(), kMaxNameUnits);
  for (size_t i = 0; i < units; ++i) Store16(b + kDirName + 2 * i, static_cast<uint16_t>(e.name[i]));
  Store16(b + kDirNameLength, static_cast<uint16_t>((units + 1) * 2));
  b[kDirObjectType] = e.objectType;
  b[kDirColorFlag] = e.color;
  Store32(b + kDirLeftSibling, e.leftSibling);
  Store32(b + kDirRightSibling, e.rightSibling);
  Store32(b + kDirChild, e.child);
  std::memcpy(b + kDirClsid, e.clsid, sizeof(e.clsid));
  Store32(b + kDirStateBits, e.stateBits);
  Store64(b + kDirCreationTime, e.creationTime);
  Store64(b + kDirModifiedTime, e.modifiedTime);
  Store32(b + kDirStartSector, e.startSector);
  Store64(b + kDirStreamSize, e.streamSize);
}

int CompareNames(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t x = static_cast<char16_t>(FoldCase(a[i]));
    const char16_t y = static_cast<char16_t>(FoldCase(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool IsValidName(const std::u16string& name) {
  if (name.empty() || name.size() > kMaxNameUnits) return false;
  for (char16_t c : name)
    if (c == 0 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
  return true;
}

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
