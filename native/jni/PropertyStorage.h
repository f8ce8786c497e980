// Whole property sets of an OLE compound document, over the platform's
// structured storage: an opened document (DocumentStorage) and one property
// set inside it (PropertySet). Every failed platform call raises
// HResultException with the platform's HRESULT (1 for a set that is only to
// be read and does not exist). The moves between a set and a Java properties
// object (ReadInto, WriteFrom) live in PropertySetTransfer.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "JNIException.h"
#include "Win32Api.h"

namespace quorvane {
namespace jni {

class PropertiesWrapper;
struct JavaEntries;

// The lowest id the storage may give a new named property.
const PROPID MinimumId = 4096;
// Writers wait this long for the document's writer lock.
const DWORD WriteAccessWaitMs = 5000;
// Value of the code-page property (id 1) of a Unicode set.
const int UnicodeCodePage = 1200;

// Modes of the document operations.
const DWORD ReadDocumentMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_NONE | STGM_READ;        // 0x00400040
const DWORD WriteDocumentMode = STGM_DIRECT_SWMR | STGM_SHARE_DENY_WRITE | STGM_READWRITE;  // 0x00400022

// One opened compound file. Owns its three interface references and
// releases them in its destructor; opened for writing it holds the writer
// lock (waited for at most WriteAccessWaitMs) until then. Lives for one call
// on one thread; not copyable.
class DocumentStorage {
 public:
  DocumentStorage(const WCHAR* fileName, DWORD mode);
  ~DocumentStorage();
  DocumentStorage(const DocumentStorage&) = delete;
  DocumentStorage& operator=(const DocumentStorage&) = delete;

  // Borrowed: valid while this object lives.
  IStorage* Storage() const { return storage; }
  IPropertySetStorage* PropertySetStorage() const { return propertySetStorage; }

 private:
  void Release() noexcept;

  IStorage* storage = nullptr;
  IPropertySetStorage* propertySetStorage = nullptr;
  IDirectWriterLock* writerLock = nullptr;  // only when opened for writing
};

// A PROPSPEC array element. Starts as PRSPEC_LPWSTR with no name; a name it
// holds is a BSTR copy that it frees when overwritten or destroyed.
struct PropertyName : PROPSPEC {
  PropertyName();
  ~PropertyName();
  PropertyName(const PropertyName&) = delete;
  PropertyName& operator=(const PropertyName&) = delete;

  void SetName(const WCHAR* name);  // throws std::bad_alloc when no copy can be made
  void SetId(PROPID id);

 private:
  void FreeName();
};

// PROPVARIANTs for ReadMultiple to fill: zeroed, freed with the platform's
// FreePropVariantArray on destruction. One scope; not copyable.
class PropVariantArray {
 public:
  explicit PropVariantArray(size_t count);
  ~PropVariantArray();
  PropVariantArray(const PropVariantArray&) = delete;
  PropVariantArray& operator=(const PropVariantArray&) = delete;

  PROPVARIANT* data() { return values.data(); }
  PROPVARIANT& operator[](size_t i) { return values[i]; }
  // Frees the values and leaves them empty, for the next read into them.
  void Clear();

 private:
  std::vector<PROPVARIANT> values;
};

// One enumeration of a set's entries; owns the enumerator and each entry's
// name, which lives until the next call or the end of the enumeration. One
// scope; not copyable.
class PropertyEnumeration {
 public:
  // HResultException when the set cannot be enumerated.
  explicit PropertyEnumeration(IPropertyStorage* properties);
  ~PropertyEnumeration();
  PropertyEnumeration(const PropertyEnumeration&) = delete;
  PropertyEnumeration& operator=(const PropertyEnumeration&) = delete;

  // The next entry, or false after the last; HResultException on failure.
  bool Next(STATPROPSTG& entry);
  // The value of the entry Next gave, into value[0] (cleared first).
  void ReadValue(const STATPROPSTG& entry, PropVariantArray& value) const;

 private:
  IPropertyStorage* properties;
  IEnumSTATPROPSTG* enumerator = nullptr;
  LPOLESTR name = nullptr;
};

// One property set (one FMTID) of a DocumentStorage, which must outlive it.
// Opened read-write when it may be created, read-only otherwise; a set it
// creates is ANSI with its class id equal to its format id. Owns its
// IPropertyStorage reference. One thread; not copyable.
class PropertySet {
 public:
  // fmtid must be one of the platform's constants (it is kept by address).
  PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid);
  // The set opened (or created) STGM_TRANSACTED: its changes reach the
  // document on Commit only, so a call that fails half-way drops them all
  // (a set that had to be created stays, empty).
  struct Transacted {};
  PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid, Transacted);
  ~PropertySet();
  PropertySet(const PropertySet&) = delete;
  PropertySet& operator=(const PropertySet&) = delete;

  // Commits the set, then the whole document, with flags.
  void Commit(DWORD flags);
  // Whether the code page (property id 1) is 1200.
  bool IsUnicode() const;
  // Entries the set enumerates.
  ULONG Count() const;
  // Fills count names from the enumeration (named entries by name, others
  // by id), then reads all count values with one ReadMultiple. The caller
  // frees the values.
  void ReadAll(PropertyName* propertyNames, PROPVARIANT* propertyValues, ULONG propertyCount) const;
  // Replaces the set with an empty ANSI one, read-write. A transacted set is
  // replaced by its commit (the old one stays until then, with whatever the
  // open held uncommitted dropped); a direct one is deleted and created.
  void Recreate();
  // Rewrites the set as ANSI with the same properties; named properties get
  // new ids from MinimumId up, unnamed ones keep theirs.
  void ConvertToAnsi();

  // Hands every text (VT_LPSTR, from the ANSI code page) and date-time
  // (VT_FILETIME, as "%4d-%02d-%02dT%02d:%02d:%02d") property to the Java
  // object under its name (PIDSI name for unnamed ones); other types are
  // skipped. HResultException 1 when the set holds no property.
  void ReadInto(PropertiesWrapper& properties) const;
  // Deletes the properties the Java object's entries hold with the value
  // "##DEL##" and writes every other one as ANSI text (VT_LPSTR), replacing a
  // same-named one of any type, in one change; a Unicode set is then
  // rewritten as ANSI. Returns the deleted keys, which the caller removes
  // from the Java object once the change is committed.
  std::vector<std::wstring> WriteFrom(const JavaEntries& entries);

  IPropertyStorage* Properties() const { return properties; }
  DocumentStorage& Document() const { return *storage; }

 private:
  PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid, DWORD openMode);
  // `replace`: STGM_CREATE, over a set that exists.
  void Create(DWORD replace = 0);

  DocumentStorage* storage;
  IPropertyStorage* properties = nullptr;
  const FMTID* fmtid;
  DWORD transacted = 0;  // STGM_TRANSACTED when opened so; a set created or recreated is too
};

}  // namespace jni
}  // namespace quorvane
