#include "FmtidNames.h"

#include <cstdint>

#include "../PropIdl.h"

namespace quorvane {
namespace posix {

namespace {
constexpr char16_t kPropertySetPrefix = u'\005';
constexpr int kNameChars = 26;  // ceil(128 / 5)
constexpr char kBase32[] = "abcdefghijklmnopqrstuvwxyz012345";
}  // namespace

std::u16string PropertySetStreamName(const FMTID& fmtid) {
  if (fmtid == FMTID_SummaryInformation) return u"\005SummaryInformation";
  if (fmtid == FMTID_DocSummaryInformation || fmtid == FMTID_UserDefinedProperties)
    return u"\005DocumentSummaryInformation";
  // The FMTID's bytes as they lie in memory (little-endian fields), read as
  // one bit string from the lowest bit of the first byte; five bits per
  // character, lowest bit first, two zero bits completing the last group.
  uint8_t bytes[16];
  bytes[0] = static_cast<uint8_t>(fmtid.Data1);
  bytes[1] = static_cast<uint8_t>(fmtid.Data1 >> 8);
  bytes[2] = static_cast<uint8_t>(fmtid.Data1 >> 16);
  bytes[3] = static_cast<uint8_t>(fmtid.Data1 >> 24);
  bytes[4] = static_cast<uint8_t>(fmtid.Data2);
  bytes[5] = static_cast<uint8_t>(fmtid.Data2 >> 8);
  bytes[6] = static_cast<uint8_t>(fmtid.Data3);
  bytes[7] = static_cast<uint8_t>(fmtid.Data3 >> 8);
  for (int i = 0; i < 8; ++i) bytes[8 + i] = fmtid.Data4[i];
  std::u16string name(1, kPropertySetPrefix);
  for (int c = 0; c < kNameChars; ++c) {
    unsigned value = 0;
    for (int b = 0; b < 5; ++b) {
      const int bit = c * 5 + b;
      if (bit < 128 && (bytes[bit / 8] >> (bit % 8)) & 1) value |= 1u << b;
    }
    name.push_back(static_cast<char16_t>(kBase32[value]));
  }
  return name;
}

size_t PropertySetSectionIndex(const FMTID& fmtid) { return fmtid == FMTID_UserDefinedProperties ? 1 : 0; }

}  // namespace posix
}  // namespace quorvane
