// Layout constants of the property-set stream format [MS-OLEPS]: the
// PropertySetStream header, the PropertySet (section) header with its
// PropertyIdentifierAndOffset table, TypedPropertyValue and the Dictionary.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane {
namespace posix {
namespace oleps {

// PropertySetStream header.
constexpr size_t kByteOrderOffset = 0;          // uint16, 0xFFFE
constexpr size_t kVersionOffset = 2;            // uint16, 0 or 1
constexpr size_t kSystemIdentifierOffset = 4;   // uint32
constexpr size_t kClsidOffset = 8;              // GUID
constexpr size_t kNumPropertySetsOffset = 24;   // uint32, 1 or 2
constexpr size_t kFmtidOffsetPairsOffset = 28;  // {GUID FMTID; uint32 Offset} per section
constexpr size_t kFmtidOffsetPairSize = 20;
constexpr uint16_t kByteOrderMark = 0xFFFE;
constexpr uint16_t kVersion0 = 0;
constexpr uint16_t kVersion1 = 1;
constexpr uint32_t kMaxSections = 2;
// The longest PropertySetStream a write may leave. [MS-OLEPS] 2.21 lets a
// reader refuse any stream longer than 262,144 bytes (the least limit an
// implementation may enforce, and the 256 KB that Windows documents for a
// property set stream), so a longer one is a document that Office or another
// reader may turn down. Writes that would grow a stream past this fail with
// STG_E_MEDIUMFULL; reads take streams of any length.
constexpr size_t kMaxStreamSize = 262144;
// A stream that another program already wrote longer (LibreOffice keeps a
// thumbnail of several hundred KB in the summary information) stays editable
// up to the 2,097,152 bytes that [MS-OLEPS] 2.21 asks readers to accept.
constexpr size_t kMaxForeignStreamSize = 2097152;
// Whether a write that takes a stream from `before` to `after` bytes is refused.
inline bool StreamTooLarge(size_t before, size_t after) {
  if (after <= before) return false;
  return after > (before <= kMaxStreamSize ? kMaxStreamSize : kMaxForeignStreamSize);
}
// OS kind 2 (Win32) in the high word, OS version 6.1 in the low word.
constexpr uint32_t kDefaultSystemIdentifier = 0x00020106;

// PropertySet (section).
constexpr size_t kSectionSizeOffset = 0;           // uint32, whole section in bytes
constexpr size_t kSectionNumPropertiesOffset = 4;  // uint32
constexpr size_t kSectionTableOffset = 8;          // {uint32 PropertyIdentifier; uint32 Offset}
constexpr size_t kIdOffsetPairSize = 8;

// TypedPropertyValue: uint16 Type, uint16 Padding, then the value.
constexpr size_t kTypedValueHeaderSize = 4;

// Dictionary: uint32 NumEntries, then {uint32 PropertyIdentifier; uint32
// Length (characters with the terminator); Name}.
constexpr size_t kDictionaryEntryHeaderSize = 8;

// Values and sections start on 4-byte boundaries.
constexpr size_t kAlignment = 4;
inline size_t PaddingTo4(size_t n) { return (kAlignment - n % kAlignment) % kAlignment; }

// A set whose CodePage property is missing is read as Windows-1252.
constexpr uint32_t kDefaultCodePage = 1252;
constexpr uint32_t kCodePageUnicode = 1200;
constexpr uint32_t kCodePageUtf8 = 65001;

}  // namespace oleps
}  // namespace posix
}  // namespace quorvane
