// The compound file binary format: the header, sector numbers and directory
// entries as the format names them, with their offsets as named constants,
// and the little-endian codecs that read and write them. Plain data and pure
// functions: no I/O, no state, safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "../StorageApi.h"

namespace quorvane {
namespace posix {
namespace cfb {

// Special sector numbers.
constexpr uint32_t kMaxRegSect = 0xFFFFFFFAu;
constexpr uint32_t kDifSect = 0xFFFFFFFCu;
constexpr uint32_t kFatSect = 0xFFFFFFFDu;
constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr uint32_t kFreeSect = 0xFFFFFFFFu;
// Directory entry numbers.
constexpr uint32_t kMaxRegSid = 0xFFFFFFFAu;
constexpr uint32_t kNoStream = 0xFFFFFFFFu;

// Header fields (offsets from the start of the file).
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kHeaderSignature = 0x00;
constexpr size_t kHeaderClsid = 0x08;
constexpr size_t kHeaderMinorVersion = 0x18;
constexpr size_t kHeaderMajorVersion = 0x1A;
constexpr size_t kHeaderByteOrder = 0x1C;
constexpr size_t kHeaderSectorShift = 0x1E;
constexpr size_t kHeaderMiniSectorShift = 0x20;
constexpr size_t kHeaderReserved = 0x22;
constexpr size_t kHeaderNumDirSectors = 0x28;
constexpr size_t kHeaderNumFatSectors = 0x2C;
constexpr size_t kHeaderFirstDirSector = 0x30;
constexpr size_t kHeaderTransactionSignature = 0x34;
constexpr size_t kHeaderMiniStreamCutoff = 0x38;
constexpr size_t kHeaderFirstMiniFatSector = 0x3C;
constexpr size_t kHeaderNumMiniFatSectors = 0x40;
constexpr size_t kHeaderFirstDifatSector = 0x44;
constexpr size_t kHeaderNumDifatSectors = 0x48;
constexpr size_t kHeaderDifat = 0x4C;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kHeaderSize = 512;  // the structure; a version 4 header sector is 4096 bytes

constexpr uint16_t kMinorVersion = 0x003E;
constexpr uint16_t kMajorVersion3 = 3;
constexpr uint16_t kMajorVersion4 = 4;
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint16_t kSectorShift3 = 9;    // 512-byte sectors
constexpr uint16_t kSectorShift4 = 12;   // 4096-byte sectors
constexpr uint16_t kMiniSectorShift = 6;  // 64-byte mini sectors
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kMiniStreamCutoff = 4096;

// Directory entry fields (offsets inside a 128-byte entry).
constexpr size_t kDirEntrySize = 128;
constexpr size_t kDirName = 0x00;
constexpr size_t kDirNameBytes = 64;  // 32 UTF-16 units including the terminating null
constexpr size_t kDirNameLength = 0x40;
constexpr size_t kDirObjectType = 0x42;
constexpr size_t kDirColorFlag = 0x43;
constexpr size_t kDirLeftSibling = 0x44;
constexpr size_t kDirRightSibling = 0x48;
constexpr size_t kDirChild = 0x4C;
constexpr size_t kDirClsid = 0x50;
constexpr size_t kDirStateBits = 0x60;
constexpr size_t kDirCreationTime = 0x64;
constexpr size_t kDirModifiedTime = 0x6C;
constexpr size_t kDirStartSector = 0x74;
constexpr size_t kDirStreamSize = 0x78;
constexpr size_t kMaxNameUnits = 31;

enum ObjectType : uint8_t { kTypeUnallocated = 0, kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5 };
enum Color : uint8_t { kRed = 0, kBlack = 1 };

// File offsets reserved for byte-range locks (the format keeps them out of
// any allocated sector).
constexpr uint64_t kRangeLockStart = 0x7FFFFF00u;
constexpr uint64_t kRangeLockEnd = 0x80000000u;

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Load64(const uint8_t* p) { return Load32(p) | (static_cast<uint64_t>(Load32(p + 4)) << 32); }
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Store64(uint8_t* p, uint64_t v) {
  Store32(p, static_cast<uint32_t>(v));
  Store32(p + 4, static_cast<uint32_t>(v >> 32));
}

struct Header {
  uint16_t minorVersion = kMinorVersion;
  uint16_t majorVersion = kMajorVersion3;
  uint16_t sectorShift = kSectorShift3;
  uint32_t numDirSectors = 0;
  uint32_t numFatSectors = 0;
  uint32_t firstDirSector = kEndOfChain;
  uint32_t transactionSignature = 0;
  uint32_t firstMiniFatSector = kEndOfChain;
  uint32_t numMiniFatSectors = 0;
  uint32_t firstDifatSector = kEndOfChain;
  uint32_t numDifatSectors = 0;
  uint32_t difat[kHeaderDifatEntries];

  Header();
  uint32_t SectorSize() const { return 1u << sectorShift; }
  // The header occupies sector "-1": sector n starts at (n + 1) * SectorSize().
  uint64_t SectorOffset(uint32_t sector) const { return (static_cast<uint64_t>(sector) + 1) << sectorShift; }
  uint32_t EntriesPerFatSector() const { return SectorSize() / 4; }
  uint32_t EntriesPerDifatSector() const { return SectorSize() / 4 - 1; }
};

// True when the first bytes carry the compound file signature.
bool HasSignature(const uint8_t* bytes, size_t count);
// STG_E_INVALIDHEADER when a field is outside what the format allows.
HRESULT ParseHeader(const uint8_t (&bytes)[kHeaderSize], Header& out);
void SerializeHeader(const Header& header, uint8_t (&bytes)[kHeaderSize]);

struct DirEntry {
  std::u16string name;
  uint8_t objectType = kTypeUnallocated;
  uint8_t color = kBlack;
  uint32_t leftSibling = kNoStream;
  uint32_t rightSibling = kNoStream;
  uint32_t child = kNoStream;
  uint8_t clsid[16] = {};
  uint32_t stateBits = 0;
  uint64_t creationTime = 0;
  uint64_t modifiedTime = 0;
  uint32_t startSector = 0;
  uint64_t streamSize = 0;
};

// STG_E_DOCFILECORRUPT for a name length or object type the format forbids.
// Version 3 files ignore the upper half of the stream size, as the format says.
HRESULT ParseDirEntry(const uint8_t* bytes, uint16_t majorVersion, DirEntry& out);
void SerializeDirEntry(const DirEntry& entry, uint8_t* bytes);

// The directory's order: shorter names first, then unit by unit after
// upper-casing. Negative, zero or positive like strcmp.
int CompareNames(const std::u16string& a, const std::u16string& b);
// Names the format accepts: 1..31 units, none of '/', '\\', ':', '!'.
bool IsValidName(const std::u16string& name);

}  // namespace cfb
}  // namespace posix
}  // namespace quorvane
