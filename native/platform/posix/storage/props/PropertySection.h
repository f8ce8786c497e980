// One property set (a PropertySet section [MS-OLEPS]) in memory: its values
// as the encoded TypedPropertyValue bytes they have on disk, so that a
// property nobody touched is written back byte for byte whatever its type,
// and its dictionary (property id 0) of names. An unmodified section
// serialises to exactly the bytes it was parsed from. A parsed section's
// values are windows on the stream's bytes, checked for shape when parsed
// and decoded only when read.
//
// Lookups by id and by name are hashed and a new id is found from a kept
// lower bound, so reading or writing one property costs the same in a set of
// ten properties as in one of thousands; only removals shift the tables.
//
// A value object; not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "../PropIdl.h"
#include "NameIndex.h"
#include "SharedBytes.h"

namespace quorvane {
namespace posix {

struct SectionProperty {
  PROPID id;
  SharedBytes value;  // TypedPropertyValue without trailing padding
};

struct DictionaryEntry {
  PROPID id;
  std::wstring name;
  std::string stored;  // the name in the set's code page, terminator included
};

class PropertySection {
 public:
  // The section starts at `offset` in `stream` (offset < its size) and its
  // values stay windows on it. STG_E_DOCFILECORRUPT for a size, count,
  // offset or value that does not fit the bytes, or a property id given twice.
  static HRESULT Parse(const FMTID& fmtid, const SharedBuffer& stream, size_t offset, PropertySection& out);
  // An empty set in `codePage` (1200 for Unicode); the behaviour property is
  // written only for a case-sensitive set.
  static PropertySection Create(const FMTID& fmtid, UINT codePage, bool caseSensitive);

  std::vector<uint8_t> Serialize(bool forceRelayout = false) const;
  // Serialize()'s bytes, appended to out.
  void AppendTo(std::vector<uint8_t>& out, bool forceRelayout = false) const;
  // The number of bytes Serialize() gives, without laying them out.
  size_t SerializedSize() const;
  // After Serialize() was written at `offset` of `stream`: the section reads
  // as a parse of those bytes would, its values windows on them, so a set
  // just written needs no parse when it is opened again.
  void Rebase(const SharedBuffer& stream, size_t offset);

  const FMTID& Fmtid() const { return fmtid_; }
  bool Modified() const { return modified_; }
  // The CodePage property's value; 1252 when the set has none.
  UINT CodePage() const { return codePage_; }
  bool HasCodePage() const;
  bool CaseSensitive() const { return caseSensitive_; }
  // Version 1 of the stream is needed for case-sensitive names.
  bool NeedsVersion1() const { return CaseSensitive(); }

  // Values in table order; the dictionary is not among them.
  const std::vector<SectionProperty>& Properties() const { return properties_; }
  const SectionProperty* Find(PROPID id) const;
  // Whether `encoded` (as EncodeTypedValue gives it) is what id holds now:
  // equal bytes, up to zero padding.
  bool Holds(PROPID id, const std::vector<uint8_t>& encoded) const;
  // Replaces or appends. A new PID_CODEPAGE changes CodePage().
  void Set(PROPID id, std::vector<uint8_t> value);
  bool Remove(PROPID id);
  // Removes the values and names of all `ids` in one pass over the tables.
  void RemoveAll(const std::unordered_set<PROPID>& ids);

  // A set read for reading only may leave a large opaque value unread: its
  // type and size are there, its data zeros (see PropertySetParts.h).
  void LeaveUnread(PROPID id) { unread_.push_back(id); }
  bool HasUnread() const { return !unread_.empty(); }
  bool Unread(PROPID id) const;

  const std::vector<DictionaryEntry>& Names() const { return names_; }
  // Names compare without regard to case unless the set is case-sensitive.
  bool FindName(const std::wstring& name, PROPID& id) const { return FindName(name.c_str(), id); }
  bool FindName(const wchar_t* name, PROPID& id) const;
  const std::wstring* NameOf(PROPID id) const;
  // kTextNotRepresentable when the set's code page cannot hold the name.
  HRESULT SetName(PROPID id, const std::wstring& name);
  bool RemoveName(PROPID id);
  // The lowest id from `first` up that names no property and holds no value.
  PROPID NextFreeId(PROPID first) const;

  // Changes the set's code page, re-encoding the dictionary and every text
  // value. Used to widen a single-byte set to UTF-8 when new text needs it.
  HRESULT ChangeCodePage(UINT codePage);

  // Changes made after BeginChanges are undone by EndChanges(false), so that
  // a call that fails half-way leaves the section as it found it; undoing
  // costs a pass over the section, keeping costs nothing.
  void BeginChanges();
  void EndChanges(bool keep);

 private:
  struct Undo {
    enum Kind { kValueSet, kValueAdded, kValueRemoved, kNameSet, kNameAdded, kNameRemoved, kWhole };
    Kind kind = kWhole;
    size_t position = 0;
    SectionProperty value{};
    DictionaryEntry name{};
    std::vector<SectionProperty> values;  // kWhole
    std::vector<DictionaryEntry> names;   // kWhole
  };

  void SetCodePageProperty(UINT codePage);
  // Rebuilds every index and derived figure from the two tables.
  void Reindex();
  // Notes how to undo a change about to be made (while journaling).
  void Record(Undo::Kind kind, size_t position, const SectionProperty* value, const DictionaryEntry* name);
  // The hashed key of a name; `scratch` holds a folded copy when one is needed.
  const std::wstring& KeyOf(const std::wstring& name, std::wstring& scratch) const;
  size_t EntryBytes(const DictionaryEntry& entry) const;
  size_t LayoutSize() const;
  void ShiftValuePositions(size_t from);
  void ShiftNamePositions(size_t from);
  // An id that may now be free: the lower bound of NextFreeId moves down.
  void Freed(PROPID id) const;

  FMTID fmtid_{};
  std::vector<SectionProperty> properties_;
  std::vector<DictionaryEntry> names_;
  bool hasDictionary_ = false;
  UINT codePage_ = 0;
  SharedBytes original_;
  bool modified_ = true;
  std::vector<PROPID> unread_;

  // Derived from the tables by Reindex and kept up to date by every change.
  bool caseSensitive_ = false;
  std::unordered_map<PROPID, size_t> valueAt_;
  std::unordered_map<PROPID, size_t> nameAt_;
  NameIndex idOfName_;  // by KeyOf: the first entry of that name
  // A dictionary from elsewhere may give an id or a name twice: its changes
  // then rebuild the indexes rather than patch them.
  bool irregularNames_ = false;
  size_t valueBytes_ = 0;  // the values with their padding
  size_t nameBytes_ = 0;   // the dictionary entries, without the count and final padding
  // Every id in [freeFrom_, freeAt_) is in use (0: nothing known).
  mutable PROPID freeFrom_ = 0;
  mutable PROPID freeAt_ = 0;

  bool journaling_ = false;
  bool modifiedBefore_ = false;
  std::vector<Undo> journal_;
};

}  // namespace posix
}  // namespace quorvane
