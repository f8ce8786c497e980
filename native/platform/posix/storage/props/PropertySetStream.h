// A whole property-set stream [MS-OLEPS]: the PropertySetStream header (byte
// order, version, system identifier, CLSID) and its one or two sections.
// An untouched stream serialises to the bytes it was parsed from; otherwise
// the header is rebuilt and each modified section laid out afresh while
// untouched sections keep their bytes.
//
// A value object; not thread-safe.
#pragma once

#include <cstdint>
#include <vector>

#include "PropertySection.h"

namespace quorvane {
namespace posix {

class PropertySetStream {
 public:
  // STG_E_INVALIDHEADER for a wrong byte order, an unknown version, a
  // section count other than 1 or 2, or section offsets outside the bytes;
  // STG_E_DOCFILECORRUPT (from the sections) for malformed contents.
  static HRESULT Parse(const std::vector<uint8_t>& bytes, PropertySetStream& out);
  // The same without a copy: the parsed values are windows on `bytes`.
  static HRESULT Parse(SharedBuffer bytes, PropertySetStream& out);
  static PropertySetStream Create(const CLSID& clsid);
  // A copy whose section `skip` (when there is one) is left empty, for a
  // caller that replaces it: that section is not copied.
  PropertySetStream CopyWithout(int skip) const;

  // `forceRelayout` rewrites every section from the model (for tests and
  // the fuzzer; the result must read back the same).
  std::vector<uint8_t> Serialize(bool forceRelayout = false) const;
  // The number of bytes Serialize() gives, without laying them out.
  size_t SerializedSize() const;
  // After Serialize() gave `bytes`: the stream reads as their parse would.
  void Rebase(SharedBuffer bytes);
  // The bytes the stream was parsed from (or rebased on); null for a new one.
  const SharedBuffer& Original() const { return original_; }

  uint16_t Version() const { return version_; }
  uint32_t SystemIdentifier() const { return systemIdentifier_; }
  const CLSID& Clsid() const { return clsid_; }
  void SetClsid(const CLSID& clsid);

  std::vector<PropertySection>& Sections() { return sections_; }
  const std::vector<PropertySection>& Sections() const { return sections_; }
  // Null when the stream has no section of that FMTID.
  PropertySection* FindSection(const FMTID& fmtid);
  // Whether a section left values unread (see PropertySetParts.h).
  bool Partial() const {
    for (const PropertySection& s : sections_)
      if (s.HasUnread()) return true;
    return false;
  }
  // Marks the header for rewriting (after sections were added or removed).
  void Touch() { headerModified_ = true; }

 private:
  bool Modified() const;

  uint16_t version_ = 0;
  uint32_t systemIdentifier_ = 0;
  CLSID clsid_{};
  std::vector<PropertySection> sections_;
  SharedBuffer original_;
  bool headerModified_ = true;
};

}  // namespace posix
}  // namespace quorvane
