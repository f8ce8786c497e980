#include "PropertyStorage.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <unordered_set>

#include "../../text/CodePages.h"
#include "PropertySetFormat.h"
#include "StatPropertyEnum.h"
#include "TypedValueCodec.h"

namespace quorvane {
namespace posix {

namespace {

constexpr DWORD kValidCommitFlags = 0x0000000F;  // STGC_OVERWRITE .. STGC_CONSOLIDATE

// Runs `write`; when the set's single-byte code page cannot hold its text,
// widens the set to UTF-8 and runs it once more.
template <typename Write>
HRESULT WithWidening(PropertySection& section, Write write) {
  HRESULT hr = write();
  if (hr != kTextNotRepresentable) return hr;
  const UINT cp = section.CodePage();
  if (cp == oleps::kCodePageUnicode || cp == oleps::kCodePageUtf8) return hr;
  if (FAILED(section.ChangeCodePage(oleps::kCodePageUtf8))) return hr;
  return write();
}

bool HoldsOnlyReserved(const PropertySection& section) {
  if (!section.Names().empty()) return false;
  for (const SectionProperty& p : section.Properties())
    if (p.id != PID_CODEPAGE && p.id != PID_LOCALE && p.id != PID_BEHAVIOR) return false;
  return true;
}

bool Enumerated(PROPID id) { return id != PID_DICTIONARY && id != PID_CODEPAGE && id < PID_MIN_READONLY; }

VARTYPE StoredType(const SectionProperty& p) {
  return p.value.size() >= 2 ? static_cast<VARTYPE>(p.value[0] | (p.value[1] << 8)) : VARTYPE(VT_EMPTY);
}

}  // namespace

bool PropertySetContext::Claim(const FMTID& fmtid) {
  std::lock_guard<std::mutex> lock(claims_);
  if (std::find(open_.begin(), open_.end(), fmtid) != open_.end()) return false;
  open_.push_back(fmtid);
  return true;
}

void PropertySetContext::Unclaim(const FMTID& fmtid) {
  std::lock_guard<std::mutex> lock(claims_);
  auto it = std::find(open_.begin(), open_.end(), fmtid);
  if (it != open_.end()) open_.erase(it);
}

PropertyStorage::PropertyStorage(std::shared_ptr<PropertySetContext> context, LoadedPropertySet set, bool writable,
                                 bool transacted, bool dirty)
    : context_(std::move(context)), set_(std::move(set)), writable_(writable), transacted_(transacted),
      dirty_(dirty) {
  if (transacted_ && dirty_) unstored_ = set_.section;
}

PropertyStorage::~PropertyStorage() { context_->Unclaim(Section().Fmtid()); }

PropertySection& PropertyStorage::Writable() {
  if (!own_) {
    std::shared_ptr<PropertySetStream> stream;
    {
      auto lock = context_->IoLock();
      stream = context_->Cache().Surrender(set_.section, held_.version);
    }
    // A set of thousands is not copied for one change when nobody else reads it.
    if (stream)
      own_ = std::shared_ptr<PropertySection>(stream, const_cast<PropertySection*>(set_.section.get()));
    else
      own_ = std::make_shared<PropertySection>(*set_.section);
    held_.stream = std::move(stream);
    set_.section = own_;
  }
  return *own_;
}

template <typename Change>
HRESULT PropertyStorage::Changing(Change change) {
  PropertySection& section = Writable();
  const size_t before = set_.otherBytes + section.SerializedSize();
  section.BeginChanges();
  HRESULT hr = change(section);
  if (SUCCEEDED(hr)) {
    if (oleps::StreamTooLarge(before, set_.otherBytes + section.SerializedSize())) hr = STG_E_MEDIUMFULL;
  }
  section.EndChanges(SUCCEEDED(hr));
  // A write of what the set holds already leaves nothing to store.
  if (SUCCEEDED(hr) && section.Modified()) dirty_ = true;
  return hr;
}

HRESULT PropertyStorage::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPropertyStorage) {
    *ppvObject = static_cast<IPropertyStorage*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG PropertyStorage::AddRef() { return ++refs_; }

ULONG PropertyStorage::Release() {
  const ULONG left = --refs_;
  if (left == 0) {
    // Direct mode: what was written reaches the store even without Commit.
    if (dirty_ && writable_ && !transacted_) Flush();
    delete this;
  }
  return left;
}

HRESULT PropertyStorage::Resolve(const PROPSPEC& spec, const PropertySection& section, PROPID& id) const {
  if (spec.ulKind == PRSPEC_PROPID) {
    id = spec.propid;
    return S_OK;
  }
  if (spec.ulKind != PRSPEC_LPWSTR || !spec.lpwstr) return STG_E_INVALIDPARAMETER;
  if (!section.FindName(spec.lpwstr, id)) id = PID_ILLEGAL;
  return S_OK;
}

HRESULT PropertyStorage::ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) {
  if (cpspec == 0) return S_FALSE;
  if (!rgpspec || !rgpropvar) return STG_E_INVALIDPOINTER;
  // A value left unread by a read-only open is read now, with the whole set.
  for (ULONG i = 0; i < cpspec && Section().HasUnread(); ++i) {
    PROPID id;
    if (FAILED(Resolve(rgpspec[i], Section(), id)) || !Section().Unread(id)) continue;
    LoadedPropertySet whole;
    auto lock = context_->IoLock();
    const HRESULT hr = LoadPropertySet(context_->Store(), context_->Cache(), Section().Fmtid(), whole, true);
    if (FAILED(hr)) return hr;
    set_ = std::move(whole);
  }
  const PropertySection& section = Section();
  const TextCodePages cps{section.CodePage(), GetACP()};
  std::memset(rgpropvar, 0, cpspec * sizeof(PROPVARIANT));
  bool found = false;
  for (ULONG i = 0; i < cpspec; ++i) {
    PROPID id;
    HRESULT hr = Resolve(rgpspec[i], section, id);
    const SectionProperty* p = SUCCEEDED(hr) && id != PID_DICTIONARY ? section.Find(id) : nullptr;
    if (p && IsInterpretedType(StoredType(*p))) {
      size_t used;
      hr = DecodeTypedValue(p->value.data(), p->value.size(), cps, rgpropvar[i], used);
      found = found || SUCCEEDED(hr);
    }
    if (FAILED(hr)) {
      FreePropVariantArray(i, rgpropvar);
      return hr;
    }
  }
  return found ? S_OK : S_FALSE;
}

HRESULT PropertyStorage::WriteMultiple(ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[],
                                       PROPID propidNameFirst) {
  if (!writable_) return STG_E_ACCESSDENIED;
  if (cpspec == 0) return S_OK;
  if (!rgpspec || !rgpropvar) return STG_E_INVALIDPOINTER;
  return Changing([&](PropertySection& section) {
    return ApplyWrites(section, cpspec, rgpspec, rgpropvar, propidNameFirst);
  });
}

HRESULT PropertyStorage::ApplyWrites(PropertySection& work, ULONG cpspec, const PROPSPEC rgpspec[],
                                     const PROPVARIANT rgpropvar[], PROPID propidNameFirst) {
  const UINT acp = GetACP();
  std::vector<uint8_t> bytes;
  for (ULONG i = 0; i < cpspec; ++i) {
    const PROPSPEC& spec = rgpspec[i];
    const PROPVARIANT& value = rgpropvar[i];
    PROPID id;
    HRESULT hr;
    if (spec.ulKind == PRSPEC_PROPID) {
      id = spec.propid;
      if (id == PID_DICTIONARY || id == PID_ILLEGAL || id == PID_BEHAVIOR ||
          (id >= PID_MIN_READONLY && id != PID_LOCALE))
        return STG_E_INVALIDPARAMETER;
      if (id == PID_CODEPAGE) {
        // The code page may change only while the set holds nothing else.
        if ((value.vt != VT_I2 && value.vt != VT_UI2) || !HoldsOnlyReserved(work)) return STG_E_INVALIDPARAMETER;
        const UINT cp = static_cast<uint16_t>(value.iVal);
        std::string probe;
        if (!EncodeToCodePage(cp, L"A", 1, probe, true)) return STG_E_INVALIDPARAMETER;
        hr = work.ChangeCodePage(cp);
        if (FAILED(hr)) return hr;
        continue;
      }
    } else if (spec.ulKind == PRSPEC_LPWSTR) {
      if (!spec.lpwstr || !*spec.lpwstr) return STG_E_INVALIDPARAMETER;
      if (!work.FindName(spec.lpwstr, id)) {
        if (value.vt == VT_EMPTY) continue;
        const std::wstring name(spec.lpwstr);
        if (propidNameFirst < PID_FIRST_USABLE || propidNameFirst >= PID_MIN_READONLY) return STG_E_INVALIDPARAMETER;
        id = work.NextFreeId(propidNameFirst);
        if (id == PID_ILLEGAL) return STG_E_INSUFFICIENTMEMORY;
        hr = WithWidening(work, [&] { return work.SetName(id, name); });
        if (FAILED(hr)) return hr;
      }
    } else {
      return STG_E_INVALIDPARAMETER;
    }
    if (value.vt == VT_EMPTY) {  // writing nothing deletes
      work.Remove(id);
      work.RemoveName(id);
      continue;
    }
    hr = WithWidening(work, [&] {
      bytes.clear();
      return EncodeTypedValue(value, TextCodePages{work.CodePage(), acp}, bytes);
    });
    if (FAILED(hr)) return hr;
    // A whole set written back with one value changed re-stores only that one.
    if (!work.Holds(id, bytes)) work.Set(id, bytes);
  }
  return S_OK;
}

HRESULT PropertyStorage::DeleteMultiple(ULONG cpspec, const PROPSPEC rgpspec[]) {
  if (!writable_) return STG_E_ACCESSDENIED;
  if (cpspec == 0) return S_OK;
  if (!rgpspec) return STG_E_INVALIDPOINTER;
  // Every spec is checked before anything goes; then one pass removes them all.
  std::unordered_set<PROPID> ids;
  for (ULONG i = 0; i < cpspec; ++i) {
    PROPID id;
    const HRESULT hr = Resolve(rgpspec[i], Section(), id);
    if (FAILED(hr)) return hr;
    if (id == PID_DICTIONARY || id == PID_CODEPAGE || id == PID_BEHAVIOR) return STG_E_INVALIDPARAMETER;
    if (id != PID_ILLEGAL) ids.insert(id);
  }
  if (!ids.empty()) Writable().RemoveAll(ids);
  dirty_ = true;
  return S_OK;
}

HRESULT PropertyStorage::ReadPropertyNames(ULONG cpropid, const PROPID rgpropid[], LPOLESTR rglpwstrName[]) {
  if (cpropid == 0) return S_FALSE;
  if (!rgpropid || !rglpwstrName) return STG_E_INVALIDPOINTER;
  bool found = false;
  for (ULONG i = 0; i < cpropid; ++i) {
    rglpwstrName[i] = nullptr;
    const std::wstring* name = Section().NameOf(rgpropid[i]);
    if (!name) continue;
    rglpwstrName[i] = static_cast<LPOLESTR>(CoTaskMemAlloc((name->size() + 1) * sizeof(OLECHAR)));
    if (!rglpwstrName[i]) {
      for (ULONG j = 0; j < i; ++j) {
        CoTaskMemFree(rglpwstrName[j]);
        rglpwstrName[j] = nullptr;
      }
      return E_OUTOFMEMORY;
    }
    std::wmemcpy(rglpwstrName[i], name->c_str(), name->size() + 1);
    found = true;
  }
  return found ? S_OK : S_FALSE;
}

HRESULT PropertyStorage::WritePropertyNames(ULONG cpropid, const PROPID rgpropid[], const LPOLESTR rglpwstrName[]) {
  if (!writable_) return STG_E_ACCESSDENIED;
  if (cpropid == 0) return S_OK;
  if (!rgpropid || !rglpwstrName) return STG_E_INVALIDPOINTER;
  return Changing([&](PropertySection& work) {
    for (ULONG i = 0; i < cpropid; ++i) {
      const PROPID id = rgpropid[i];
      if (id < PID_FIRST_USABLE || id >= PID_MIN_READONLY || !rglpwstrName[i] || !*rglpwstrName[i])
        return STG_E_INVALIDPARAMETER;
      const std::wstring name(rglpwstrName[i]);
      PROPID holder;
      if (work.FindName(name, holder) && holder != id) return STG_E_INVALIDPARAMETER;  // a name names one property
      const HRESULT hr = WithWidening(work, [&] { return work.SetName(id, name); });
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  });
}

HRESULT PropertyStorage::DeletePropertyNames(ULONG cpropid, const PROPID rgpropid[]) {
  if (!writable_) return STG_E_ACCESSDENIED;
  if (cpropid == 0) return S_OK;
  if (!rgpropid) return STG_E_INVALIDPOINTER;
  for (ULONG i = 0; i < cpropid; ++i)
    if (Section().NameOf(rgpropid[i]) && Writable().RemoveName(rgpropid[i])) dirty_ = true;
  return S_OK;
}

HRESULT PropertyStorage::Flush() {
  PropertySection& section = Writable();
  auto lock = context_->IoLock();
  LoadedPropertySet written;
  const HRESULT hr = StorePropertySet(context_->Store(), context_->Cache(), section, &set_.clsid, &written, &held_);
  if (FAILED(hr)) return hr;
  held_ = HeldStream();
  // The section went into the stream kept for the next open; it is shared from there.
  set_.section = std::move(written.section);
  set_.otherBytes = written.otherBytes;
  own_.reset();
  dirty_ = false;
  unstored_.reset();
  return hr;
}

HRESULT PropertyStorage::Commit(DWORD grfCommitFlags) {
  if (grfCommitFlags & ~kValidCommitFlags) return STG_E_INVALIDFLAG;
  if (!writable_ || !dirty_) return S_OK;
  return Flush();
}

HRESULT PropertyStorage::Revert() {
  if (!transacted_ || !dirty_) return S_OK;
  if (unstored_) {  // back to empty, still to be stored by a commit
    set_.section = unstored_;
    own_.reset();
    return S_OK;
  }
  LoadedPropertySet fresh;
  HRESULT hr;
  {
    auto lock = context_->IoLock();
    hr = LoadPropertySet(context_->Store(), context_->Cache(), Section().Fmtid(), fresh);
  }
  if (FAILED(hr)) return hr;
  set_ = std::move(fresh);
  own_.reset();
  held_ = HeldStream();
  dirty_ = false;
  return S_OK;
}

HRESULT PropertyStorage::Enum(IEnumSTATPROPSTG** ppenum) {
  if (!ppenum) return STG_E_INVALIDPOINTER;
  *ppenum = nullptr;
  auto entries = std::make_shared<StatEntries>();
  entries->entries.reserve(Section().Properties().size());
  for (const SectionProperty& p : Section().Properties())
    if (Enumerated(p.id)) entries->Add(p.id, StoredType(p), Section().NameOf(p.id));
  *ppenum = new (std::nothrow) StatPropertyEnum(std::move(entries));
  return *ppenum ? S_OK : E_OUTOFMEMORY;
}

HRESULT PropertyStorage::SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) {
  // A simple property set is a stream and keeps no times of its own.
  return writable_ ? S_OK : STG_E_ACCESSDENIED;
}

HRESULT PropertyStorage::SetClass(REFCLSID clsid) {
  if (!writable_) return STG_E_ACCESSDENIED;
  set_.clsid = clsid;
  dirty_ = true;
  return S_OK;
}

HRESULT PropertyStorage::Stat(STATPROPSETSTG* pstatpsstg) {
  if (!pstatpsstg) return STG_E_INVALIDPOINTER;
  std::memset(pstatpsstg, 0, sizeof *pstatpsstg);
  pstatpsstg->fmtid = Section().Fmtid();
  pstatpsstg->clsid = set_.clsid;
  if (Section().CodePage() != oleps::kCodePageUnicode) pstatpsstg->grfFlags |= PROPSETFLAG_ANSI;
  if (Section().CaseSensitive()) pstatpsstg->grfFlags |= PROPSETFLAG_CASE_SENSITIVE;
  pstatpsstg->dwOSVersion = set_.systemIdentifier;
  return S_OK;
}

}  // namespace posix
}  // namespace quorvane
