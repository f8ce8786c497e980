#include "PeVersionResource.h"

#include <cstring>

namespace quorvane {
namespace posix {
namespace {

// IMAGE_DOS_HEADER
constexpr uint16_t kDosSignature = 0x5A4D;  // "MZ"
constexpr uint64_t kDosNewHeaderOffset = 0x3C;  // e_lfanew
// IMAGE_NT_HEADERS: "PE\0\0", IMAGE_FILE_HEADER (20 bytes), optional header
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint64_t kFileHeaderOffset = 4;
constexpr uint64_t kNumberOfSectionsOffset = 2;
constexpr uint64_t kSizeOfOptionalHeaderOffset = 16;
constexpr uint64_t kOptionalHeaderOffset = 24;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// NumberOfRvaAndSizes and DataDirectory within the optional header.
constexpr uint64_t kPe32RvaCountOffset = 92, kPe32DirectoriesOffset = 96;
constexpr uint64_t kPe32PlusRvaCountOffset = 108, kPe32PlusDirectoriesOffset = 112;
constexpr uint32_t kResourceDirectoryIndex = 2;  // IMAGE_DIRECTORY_ENTRY_RESOURCE
constexpr uint64_t kDataDirectorySize = 8;
// IMAGE_SECTION_HEADER
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionVirtualSizeOffset = 8, kSectionVirtualAddressOffset = 12;
constexpr uint64_t kSectionRawSizeOffset = 16, kSectionRawPointerOffset = 20;
constexpr uint16_t kMaxSections = 96;  // the loader's own limit
// IMAGE_RESOURCE_DIRECTORY (16 bytes) and its 8-byte entries
constexpr uint64_t kResourceDirectorySize = 16;
constexpr uint64_t kNamedEntriesOffset = 12, kIdEntriesOffset = 14;
constexpr uint64_t kResourceEntrySize = 8;
constexpr uint32_t kEntryIsName = 0x80000000u, kEntryIsDirectory = 0x80000000u;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVsVersionInfo = 1;  // the resource's id
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint32_t kPrimaryLanguageMask = 0x3FF;
// IMAGE_RESOURCE_DATA_ENTRY: OffsetToData (an RVA), Size, CodePage, Reserved
constexpr uint64_t kDataEntrySize = 16;
// Version resources are a few KB; anything larger is not one.
constexpr uint32_t kMaxResourceSize = 1u << 20;
// VS_VERSIONINFO: wLength, wValueLength, wType, szKey "VS_VERSION_INFO", padding, value
constexpr size_t kVersionInfoHeaderSize = 6;
constexpr char16_t kVersionInfoKey[] = u"VS_VERSION_INFO";
constexpr size_t kFixedFileInfoSize = 52;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

class PeFile {
 public:
  explicit PeFile(const ReadAt& read) : read_(read) {}

  bool Read16(uint64_t offset, uint16_t* value) const {
    uint8_t b[2];
    if (!read_(offset, b, 2)) return false;
    *value = Le16(b);
    return true;
  }
  bool Read32(uint64_t offset, uint32_t* value) const {
    uint8_t b[4];
    if (!read_(offset, b, 4)) return false;
    *value = Le32(b);
    return true;
  }

  // Finds the resource directory's RVA and the section table.
  bool Open() {
    uint16_t dosSignature = 0, magic = 0, sizeOfOptionalHeader = 0;
    uint32_t newHeader = 0, peSignature = 0;
    if (!Read16(0, &dosSignature) || dosSignature != kDosSignature) return false;
    if (!Read32(kDosNewHeaderOffset, &newHeader) || !Read32(newHeader, &peSignature) || peSignature != kPeSignature)
      return false;
    const uint64_t fileHeader = uint64_t{newHeader} + kFileHeaderOffset;
    if (!Read16(fileHeader + kNumberOfSectionsOffset, &sections_) || sections_ > kMaxSections) return false;
    if (!Read16(fileHeader + kSizeOfOptionalHeaderOffset, &sizeOfOptionalHeader)) return false;
    const uint64_t optional = uint64_t{newHeader} + kOptionalHeaderOffset;
    if (!Read16(optional, &magic)) return false;
    uint64_t rvaCountOffset, directoriesOffset;
    if (magic == kPe32Magic) {
      rvaCountOffset = kPe32RvaCountOffset, directoriesOffset = kPe32DirectoriesOffset;
    } else if (magic == kPe32PlusMagic) {
      rvaCountOffset = kPe32PlusRvaCountOffset, directoriesOffset = kPe32PlusDirectoriesOffset;
    } else {
      return false;
    }
    uint32_t rvaCount = 0;
    const uint64_t resourceEntry = directoriesOffset + kResourceDirectoryIndex * kDataDirectorySize;
    if (!Read32(optional + rvaCountOffset, &rvaCount) || rvaCount <= kResourceDirectoryIndex ||
        resourceEntry + kDataDirectorySize > sizeOfOptionalHeader)
      return false;
    if (!Read32(optional + resourceEntry, &resourceRva_) || resourceRva_ == 0) return false;
    sectionTable_ = optional + sizeOfOptionalHeader;
    return true;
  }

  // The file offset of `count` bytes at `rva`, all inside one section's file data.
  bool FileOffset(uint32_t rva, uint32_t count, uint64_t* offset) const {
    for (uint16_t i = 0; i < sections_; ++i) {
      const uint64_t header = sectionTable_ + i * kSectionHeaderSize;
      uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
      if (!Read32(header + kSectionVirtualSizeOffset, &virtualSize) ||
          !Read32(header + kSectionVirtualAddressOffset, &virtualAddress) ||
          !Read32(header + kSectionRawSizeOffset, &rawSize) || !Read32(header + kSectionRawPointerOffset, &rawPointer))
        return false;
      const uint64_t mapped = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
      if (rva >= virtualAddress && uint64_t{rva} - virtualAddress + count <= mapped) {
        *offset = uint64_t{rawPointer} + (rva - virtualAddress);
        return true;
      }
    }
    return false;
  }

  // As FileOffset for an offset relative to the resource root.
  bool ResourceOffset(uint32_t relative, uint32_t count, uint64_t* offset) const {
    const uint64_t rva = uint64_t{resourceRva_} + relative;
    return rva <= 0xFFFFFFFFu && FileOffset(static_cast<uint32_t>(rva), count, offset);
  }

  // The numbered entry of a resource directory (at `directory`, relative to
  // the resource root) that `rank` ranks lowest (the first of equals); a rank
  // of kNoRank is never chosen.
  static constexpr unsigned kNoRank = ~0u;
  template <typename Rank>
  bool ChooseEntry(uint32_t directory, const Rank& rank, uint32_t* target) const {
    uint64_t at = 0;
    uint16_t named = 0, ids = 0;
    if (!ResourceOffset(directory, kResourceDirectorySize, &at) || !Read16(at + kNamedEntriesOffset, &named) ||
        !Read16(at + kIdEntriesOffset, &ids))
      return false;
    unsigned best = kNoRank;
    for (uint32_t i = named; i < uint32_t{named} + ids; ++i) {
      const uint64_t entry = at + kResourceDirectorySize + uint64_t{i} * kResourceEntrySize;
      uint32_t id = 0, value = 0;
      if (!Read32(entry, &id) || !Read32(entry + 4, &value)) return false;
      const unsigned r = (id & kEntryIsName) ? kNoRank : rank(id);
      if (r < best) best = r, *target = value;
      if (best == 0) break;
    }
    return best != kNoRank;
  }

  bool ReadVersion(uint16_t userLanguage, std::vector<uint8_t>* resource) const {
    const auto only = [](uint32_t wanted) {
      return [wanted](uint32_t id) { return id == wanted ? 0u : kNoRank; };
    };
    // The user's language, then a neutral one, then English US, then the first.
    const auto language = [userLanguage](uint32_t id) {
      if ((id & kPrimaryLanguageMask) == (userLanguage & kPrimaryLanguageMask)) return 0u;
      if ((id & kPrimaryLanguageMask) == 0) return 1u;
      return id == kEnglishUs ? 2u : 3u;
    };
    uint32_t names = 0, languages = 0, data = 0;
    // Type, name and language: two subdirectories, then a data entry.
    if (!ChooseEntry(0, only(kRtVersion), &names) || !(names & kEntryIsDirectory)) return false;
    if (!ChooseEntry(names & ~kEntryIsDirectory, only(kVsVersionInfo), &languages) ||
        !(languages & kEntryIsDirectory))
      return false;
    if (!ChooseEntry(languages & ~kEntryIsDirectory, language, &data) || (data & kEntryIsDirectory)) return false;
    uint64_t entry = 0;
    uint32_t dataRva = 0, size = 0;
    // Shorter than the VS_VERSIONINFO header, it cannot even hold its root length.
    if (!ResourceOffset(data, kDataEntrySize, &entry) || !Read32(entry, &dataRva) || !Read32(entry + 4, &size) ||
        size < kVersionInfoHeaderSize || size > kMaxResourceSize)
      return false;
    uint64_t offset = 0;
    if (!FileOffset(dataRva, size, &offset)) return false;
    resource->resize(size);
    return read_(offset, resource->data(), size);
  }

 private:
  const ReadAt& read_;
  uint16_t sections_ = 0;
  uint64_t sectionTable_ = 0;
  uint32_t resourceRva_ = 0;
};

}  // namespace

bool ReadPeVersionResource(const ReadAt& read, uint16_t userLanguage, std::vector<uint8_t>* resource) {
  PeFile file(read);
  return file.Open() && file.ReadVersion(userLanguage, resource);
}

const uint8_t* FindFixedFileInfo(const uint8_t* block, size_t size) {
  if (block == nullptr || size < kVersionInfoHeaderSize) return nullptr;
  const size_t length = Le16(block);
  const size_t valueLength = Le16(block + 2);
  if (length > size || valueLength < kFixedFileInfoSize) return nullptr;
  const size_t keyBytes = sizeof(kVersionInfoKey);  // with its terminator
  if (kVersionInfoHeaderSize + keyBytes > length) return nullptr;
  for (size_t i = 0; i < keyBytes / 2; ++i)
    if (Le16(block + kVersionInfoHeaderSize + 2 * i) != kVersionInfoKey[i]) return nullptr;
  const size_t value = (kVersionInfoHeaderSize + keyBytes + 3) & ~size_t{3};
  if (value + kFixedFileInfoSize > length || Le32(block + value) != kFixedFileInfoSignature) return nullptr;
  return block + value;
}

}  // namespace posix
}  // namespace quorvane
