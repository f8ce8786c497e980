// quorvane::DocfileProperties: the typed property set of an open compound
// document. An ordinary name is a named property of the user-defined set; a
// name made only of decimal digits (the empty name included) is the summary
// information property whose id is that number + 1 ("1" is the title,
// "7" the last author, "12" the last-save time).
#pragma once

#include <boost/shared_ptr.hpp>

#include "IProperties.h"
#include "Win32Api.h"

namespace quorvane {

// Holds one reference to the document's storage for its lifetime and caches
// nothing else: every operation opens the property set it needs (read-only
// for reads, read-write and created when missing for writes) and releases it
// before returning. Text is written as VT_LPSTR (see PropertyTextToNarrow),
// date-times as VT_FILETIME; VT_I4 reads as decimal text. One thread at a
// time; exclusion against other openers comes from the storage's share modes.
class DocfileProperties : public IProperties {
 public:
  // Takes over one reference to storage (std::logic_error when null).
  explicit DocfileProperties(IStorage* storage);
  // The same, with the user-defined set (and optionally the summary set)
  // already open (writable) in the caller's hands: their reads and writes go
  // there, to be committed or dropped with the caller's other changes. The
  // sets must outlive this.
  DocfileProperties(IStorage* storage, IPropertyStorage* userSet, IPropertyStorage* summarySet = nullptr);
  ~DocfileProperties() = default;

  TextHandle GetProperty(const std::wstring& name) const override;
  void SetProperty(const std::wstring& name, const std::wstring& value) override;
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override;
  void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) override;
  void RemoveProperty(const std::wstring& name) override;
  bool HasProperty(const std::wstring& name) const override;
  // Named properties of the user-defined set, in the storage's order.
  NameList GetPropertyNames() const override;
  void VisitPropertyNames(const std::function<void(std::wstring_view)>& visit) const override;
  TextHandle GetStoredText(const std::wstring& name) const override;
  // All but numeric names: those read the summary set, and one that does not
  // fit 32 bits throws a bad_lexical_cast that ends a copy.
  bool CopiesPurely(std::wstring_view name) const override;

 private:
  typedef boost::shared_ptr<IPropertyStorage> PropertyStorageHandle;

  // Empty handle when readOnly and the set is missing.
  PropertyStorageHandle OpenPropertySet(const FMTID& fmtid, bool readOnly) const;
  PropertyStorageHandle CreatePropertySet(IPropertySetStorage* propertySetStorage, const FMTID& fmtid) const;
  // VT_EMPTY when the set or the property is missing; the caller clears it.
  PROPVARIANT ReadValue(const std::wstring& name) const;
  void WriteValue(const std::wstring& name, const PROPVARIANT& value);
  // The set's code page property; 1252 when the set or the property is missing.
  UINT StoredCodePage(const FMTID& fmtid) const;

  boost::shared_ptr<IStorage> storage;
  IPropertyStorage* userSet = nullptr;
  IPropertyStorage* summarySet = nullptr;
};

}  // namespace quorvane
