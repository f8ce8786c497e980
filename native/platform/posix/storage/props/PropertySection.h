// One property set (a PropertySet section [MS-OLEPS]) in memory: its values
// as the encoded TypedPropertyValue bytes they have on disk, so that a
// property nobody touched is written back byte for byte whatever its type,
// and its dictionary (property id 0) of names. An unmodified section
// serialises to exactly the bytes it was parsed from.
//
// A value object; not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../../PropIdl.h"

namespace quorvane {
namespace posix {

struct SectionProperty {
  PROPID id;
  std::vector<uint8_t> value;  // TypedPropertyValue without trailing padding
};

struct DictionaryEntry {
  PROPID id;
  std::wstring name;
  std::string stored;  // the name in the set's code page, terminator included
};

class PropertySection {
 public:
  // `data` runs from the section's first byte to the end of the stream.
  // STG_E_DOCFILECORRUPT for a size, count, offset or value that does not
  // fit the bytes, or a property id given twice.
  static HRESULT Parse(const FMTID& fmtid, const uint8_t* data, size_t size, PropertySection& out);
  // An empty set in `codePage` (1200 for Unicode); the behaviour property is
  // written only for a case-sensitive set.
  static PropertySection Create(const FMTID& fmtid, UINT codePage, bool caseSensitive);

  std::vector<uint8_t> Serialize(bool forceRelayout = false) const;

  const FMTID& Fmtid() const { return fmtid_; }
  bool Modified() const { return modified_; }
  // The CodePage property's value; 1252 when the set has none.
  UINT CodePage() const { return codePage_; }
  bool HasCodePage() const;
  bool CaseSensitive() const;
  // Version 1 of the stream is needed for case-sensitive names.
  bool NeedsVersion1() const { return CaseSensitive(); }

  // Values in table order; the dictionary is not among them.
  const std::vector<SectionProperty>& Properties() const { return properties_; }
  const SectionProperty* Find(PROPID id) const;
  // Replaces or appends. A new PID_CODEPAGE changes CodePage().
  void Set(PROPID id, std::vector<uint8_t> value);
  bool Remove(PROPID id);

  const std::vector<DictionaryEntry>& Names() const { return names_; }
  // Names compare without regard to case unless the set is case-sensitive.
  bool FindName(const std::wstring& name, PROPID& id) const;
  const std::wstring* NameOf(PROPID id) const;
  // kTextNotRepresentable when the set's code page cannot hold the name.
  HRESULT SetName(PROPID id, const std::wstring& name);
  bool RemoveName(PROPID id);
  // The lowest id from `first` up that names no property and holds no value.
  PROPID NextFreeId(PROPID first) const;

  // Changes the set's code page, re-encoding the dictionary and every text
  // value. Used to widen a single-byte set to UTF-8 when new text needs it.
  HRESULT ChangeCodePage(UINT codePage);

 private:
  void SetCodePageProperty(UINT codePage);
  void RefreshCodePage();

  FMTID fmtid_{};
  std::vector<SectionProperty> properties_;
  std::vector<DictionaryEntry> names_;
  bool hasDictionary_ = false;
  UINT codePage_ = 0;
  std::vector<uint8_t> original_;
  bool modified_ = true;
};

}  // namespace posix
}  // namespace quorvane
