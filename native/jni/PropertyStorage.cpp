#include "PropertyStorage.h"

#include <cstring>
#include <new>
#include <vector>

#include "ExceptionReport.h"

namespace quorvane {
namespace jni {

static_assert(sizeof(PropertyName) == sizeof(PROPSPEC), "PropertyName arrays are PROPSPEC arrays");

namespace {

const DWORD kSetReadMode = STGM_SHARE_EXCLUSIVE;
const DWORD kSetWriteMode = STGM_SHARE_EXCLUSIVE | STGM_READWRITE;

}  // namespace

// ---- PropVariantArray, PropertyEnumeration ------------------------------

PropVariantArray::PropVariantArray(size_t count) : values(count) {
  if (count > 0) std::memset(values.data(), 0, sizeof(PROPVARIANT) * count);
}

PropVariantArray::~PropVariantArray() { Clear(); }

void PropVariantArray::Clear() {
  if (!values.empty()) FreePropVariantArray(static_cast<ULONG>(values.size()), values.data());
}

PropertyEnumeration::PropertyEnumeration(IPropertyStorage* properties) : properties(properties) {
  ThrowIfFailed(properties->Enum(&enumerator));
  if (enumerator == nullptr) throw HResultException(E_FAIL);
}

PropertyEnumeration::~PropertyEnumeration() {
  CoTaskMemFree(name);
  enumerator->Release();
}

bool PropertyEnumeration::Next(STATPROPSTG& entry) {
  CoTaskMemFree(name);
  name = nullptr;
  std::memset(&entry, 0, sizeof entry);
  const HRESULT hr = enumerator->Next(1, &entry, nullptr);
  ThrowIfFailed(hr);
  name = entry.lpwstrName;
  return hr == S_OK;
}

void PropertyEnumeration::ReadValue(const STATPROPSTG& entry, PropVariantArray& value) const {
  PROPSPEC spec;
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = entry.propid;
  value.Clear();
  ThrowIfFailed(properties->ReadMultiple(1, &spec, value.data()));
}

// ---- DocumentStorage -----------------------------------------------------

DocumentStorage::DocumentStorage(const WCHAR* fileName, DWORD mode) {
  ThrowIfFailed(StgOpenStorage(fileName, nullptr, mode, nullptr, 0, &storage));
  try {
    if (storage == nullptr) throw HResultException(E_FAIL);
    if ((mode & STGM_READWRITE) != 0) {
      ThrowIfFailed(storage->QueryInterface(IID_IDirectWriterLock, reinterpret_cast<void**>(&writerLock)));
      ThrowIfFailed(writerLock->WaitForWriteAccess(WriteAccessWaitMs));
    }
    ThrowIfFailed(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&propertySetStorage)));
    if (propertySetStorage == nullptr) throw HResultException(E_FAIL);
  } catch (...) {
    Release();
    throw;
  }
}

DocumentStorage::~DocumentStorage() { Release(); }

void DocumentStorage::Release() noexcept {
  if (writerLock != nullptr) {
    if (writerLock->HaveWriteAccess() == S_OK) writerLock->ReleaseWriteAccess();
    writerLock->Release();
    writerLock = nullptr;
  }
  if (propertySetStorage != nullptr) {
    propertySetStorage->Release();
    propertySetStorage = nullptr;
  }
  if (storage != nullptr) {
    storage->Release();
    storage = nullptr;
  }
}

// ---- Array elements ------------------------------------------------------

PropertyName::PropertyName() {
  std::memset(static_cast<PROPSPEC*>(this), 0, sizeof(PROPSPEC));
  ulKind = PRSPEC_LPWSTR;
  lpwstr = nullptr;
}

PropertyName::~PropertyName() { FreeName(); }

void PropertyName::FreeName() {
  if (ulKind == PRSPEC_LPWSTR && lpwstr != nullptr) SysFreeString(lpwstr);
  lpwstr = nullptr;
}

void PropertyName::SetName(const WCHAR* name) {
  FreeName();
  ulKind = PRSPEC_LPWSTR;
  if (name == nullptr) return;
  lpwstr = SysAllocString(name);
  if (lpwstr == nullptr) throw std::bad_alloc();
}

void PropertyName::SetId(PROPID id) {
  FreeName();
  ulKind = PRSPEC_PROPID;
  propid = id;
}

// ---- PropertySet ---------------------------------------------------------

PropertySet::PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid)
    : PropertySet(storage, createIfMissing, fmtid, createIfMissing ? kSetWriteMode : kSetReadMode) {}

PropertySet::PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid, Transacted)
    : PropertySet(storage, createIfMissing, fmtid,
                  (createIfMissing ? kSetWriteMode : kSetReadMode) | STGM_TRANSACTED) {}

PropertySet::PropertySet(DocumentStorage& storage, bool createIfMissing, const FMTID& fmtid, DWORD openMode)
    : storage(&storage), fmtid(&fmtid), transacted(openMode & STGM_TRANSACTED) {
  HRESULT hr = storage.PropertySetStorage()->Open(fmtid, openMode, &properties);
  // ole32 keeps a simple set (one stream) in direct mode only and refuses
  // the flag; there the set is written directly, as it always was.
  if (hr == STG_E_INVALIDFLAG && transacted) {
    transacted = 0;
    hr = storage.PropertySetStorage()->Open(fmtid, openMode & ~STGM_TRANSACTED, &properties);
  }
  if (SUCCEEDED(hr) && properties != nullptr) return;
  if (properties != nullptr) {
    properties->Release();
    properties = nullptr;
  }
  if (hr != STG_E_FILENOTFOUND) throw HResultException(FAILED(hr) ? hr : E_FAIL);
  if (!createIfMissing) throw HResultException(S_FALSE);
  Create();
}

PropertySet::~PropertySet() {
  if (properties != nullptr) properties->Release();
}

void PropertySet::Create(DWORD replace) {
  IPropertyStorage* created = nullptr;
  HRESULT hr = storage->PropertySetStorage()->Create(
      *fmtid, fmtid, PROPSETFLAG_ANSI, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | transacted | replace, &created);
  if (hr == STG_E_INVALIDFLAG && transacted) {  // as in the constructor
    transacted = 0;
    hr = storage->PropertySetStorage()->Create(*fmtid, fmtid, PROPSETFLAG_ANSI, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                               &created);
  }
  if (FAILED(hr) || created == nullptr) {
    if (created != nullptr) created->Release();
    throw HResultException(FAILED(hr) ? hr : E_FAIL);
  }
  properties = created;
}

void PropertySet::Commit(DWORD flags) {
  ThrowIfFailed(properties->Commit(flags));
  ThrowIfFailed(storage->Storage()->Commit(flags));
}

bool PropertySet::IsUnicode() const {
  PropertyName codePage;
  codePage.SetId(PID_CODEPAGE);
  PropVariantArray value(1);
  ThrowIfFailed(properties->ReadMultiple(1, &codePage, value.data()));
  const PROPVARIANT& read = value.data()[0];
  // Stored as a 16-bit integer; 1200 reads the same signed or unsigned.
  switch (read.vt) {
    case VT_I2:
    case VT_UI2:
      return static_cast<USHORT>(read.iVal) == UnicodeCodePage;
    case VT_I4:
    case VT_UI4:
      return read.lVal == UnicodeCodePage;
    default:
      return false;
  }
}

ULONG PropertySet::Count() const {
  PropertyEnumeration entries(properties);
  ULONG count = 0;
  STATPROPSTG entry;
  while (entries.Next(entry)) ++count;
  return count;
}

void PropertySet::ReadAll(PropertyName* propertyNames, PROPVARIANT* propertyValues, ULONG propertyCount) const {
  CHECK(invalid_argument, propertyCount == 0 || (propertyNames != nullptr && propertyValues != nullptr));
  PropertyEnumeration entries(properties);
  ULONG filled = 0;
  STATPROPSTG entry;
  while (filled < propertyCount && entries.Next(entry)) {
    if (entry.lpwstrName != nullptr)
      propertyNames[filled].SetName(entry.lpwstrName);
    else
      propertyNames[filled].SetId(entry.propid);
    ++filled;
  }
  if (propertyCount > 0) ThrowIfFailed(properties->ReadMultiple(propertyCount, propertyNames, propertyValues));
}

void PropertySet::Recreate() {
  properties->Release();
  properties = nullptr;
  if (transacted) {
    Create(STGM_CREATE);
    return;
  }
  ThrowIfFailed(storage->PropertySetStorage()->Delete(*fmtid));
  Create();
}

void PropertySet::ConvertToAnsi() {
  const ULONG count = Count();
  if (count == 0) {
    Recreate();
    return;
  }
  std::vector<PropertyName> names(count);
  PropVariantArray values(count);
  ReadAll(names.data(), values.data(), count);
  Recreate();
  ThrowIfFailed(properties->WriteMultiple(count, names.data(), values.data(), MinimumId));
}

}  // namespace jni
}  // namespace quorvane
