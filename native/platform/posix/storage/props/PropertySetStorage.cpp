#include "PropertySetStorage.h"

#include <atomic>
#include <new>

#include "../../text/CodePages.h"
#include "FmtidNames.h"
#include "PropertyStorage.h"

namespace quorvane {
namespace posix {

namespace {

constexpr DWORD kAccessMask = STGM_READ | STGM_WRITE | STGM_READWRITE;
constexpr DWORD kShareMask = 0x00000070;
constexpr DWORD kOpenModeFlags = kAccessMask | kShareMask | STGM_TRANSACTED | STGM_SIMPLE;
constexpr DWORD kKnownSetFlags = PROPSETFLAG_NONSIMPLE | PROPSETFLAG_ANSI | PROPSETFLAG_UNBUFFERED |
                                 PROPSETFLAG_CASE_SENSITIVE;

bool Writes(DWORD mode) { return (mode & (STGM_WRITE | STGM_READWRITE)) != 0; }

// A property set is a stream of the storage and opens share-exclusive only.
HRESULT CheckMode(DWORD mode, DWORD allowed) {
  if (mode & ~allowed) return STG_E_INVALIDFLAG;
  if ((mode & kAccessMask) == kAccessMask) return STG_E_INVALIDFLAG;
  if ((mode & kShareMask) != STGM_SHARE_EXCLUSIVE) return STG_E_INVALIDFLAG;
  return S_OK;
}

// Releases a claim unless handed over to a PropertyStorage.
class ClaimGuard {
 public:
  ClaimGuard(PropertySetContext& context, const FMTID& fmtid) : context_(context), fmtid_(fmtid) {}
  ~ClaimGuard() {
    if (held_) context_.Unclaim(fmtid_);
  }
  void HandOver() { held_ = false; }

 private:
  PropertySetContext& context_;
  FMTID fmtid_;
  bool held_ = true;
};

// Reference counting is atomic; the methods may be called from any thread.
class PropertySetStorage final : public IPropertySetStorage {
 public:
  explicit PropertySetStorage(std::shared_ptr<StreamStore> store)
      : context_(std::make_shared<PropertySetContext>(std::move(store))) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertySetStorage) {
      *ppvObject = static_cast<IPropertySetStorage*>(this);
      AddRef();
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  STDMETHOD(Create)
  (REFFMTID rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode, IPropertyStorage** ppprstg) override {
    if (!ppprstg) return STG_E_INVALIDPOINTER;
    *ppprstg = nullptr;
    HRESULT hr = CheckMode(grfMode, kOpenModeFlags | STGM_CREATE);
    if (FAILED(hr)) return hr;
    if ((grfFlags & ~kKnownSetFlags) || (grfFlags & PROPSETFLAG_NONSIMPLE)) return STG_E_INVALIDFLAG;
    if (!Writes(grfMode) || !context_->Store().CanWrite()) return STG_E_ACCESSDENIED;
    if (!context_->Claim(rfmtid)) return STG_E_ACCESSDENIED;
    ClaimGuard claim(*context_, rfmtid);

    const UINT codePage = (grfFlags & PROPSETFLAG_ANSI) ? GetACP() : CP_WINUNICODE;
    PropertySection section =
        PropertySection::Create(rfmtid, codePage, (grfFlags & PROPSETFLAG_CASE_SENSITIVE) != 0);
    const CLSID clsid = pclsid ? *pclsid : CLSID{};
    const bool transacted = (grfMode & STGM_TRANSACTED) != 0;
    LoadedPropertySet set;
    {
      auto lock = context_->IoLock();
      if (!(grfMode & STGM_CREATE) && PropertySetExists(context_->Store(), context_->Cache(), rfmtid)) return STG_E_FILEALREADYEXISTS;
      // The user-defined set shares its stream's CLSID with the set before it.
      const CLSID* ownClsid = PropertySetSectionIndex(rfmtid) == 0 ? &clsid : nullptr;
      if (transacted) {
        // Stored by the first commit: a transaction given up leaves no empty set behind.
        hr = PlanPropertySet(context_->Store(), context_->Cache(), std::move(section), ownClsid, set);
      } else {
        hr = StorePropertySet(context_->Store(), context_->Cache(), section, ownClsid);
        if (SUCCEEDED(hr)) hr = LoadPropertySet(context_->Store(), context_->Cache(), rfmtid, set);
      }
    }
    if (FAILED(hr)) return hr;
    auto* storage = new (std::nothrow) PropertyStorage(context_, std::move(set), true, transacted, transacted);
    if (!storage) return E_OUTOFMEMORY;
    claim.HandOver();
    *ppprstg = storage;
    return S_OK;
  }

  STDMETHOD(Open)(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) override {
    if (!ppprstg) return STG_E_INVALIDPOINTER;
    *ppprstg = nullptr;
    HRESULT hr = CheckMode(grfMode, kOpenModeFlags);
    if (FAILED(hr)) return hr;
    const bool writable = Writes(grfMode);
    if (writable && !context_->Store().CanWrite()) return STG_E_ACCESSDENIED;
    if (!context_->Claim(rfmtid)) return STG_E_ACCESSDENIED;
    ClaimGuard claim(*context_, rfmtid);
    LoadedPropertySet set;
    {
      auto lock = context_->IoLock();
      hr = LoadPropertySet(context_->Store(), context_->Cache(), rfmtid, set);
    }
    if (FAILED(hr)) return hr;
    auto* storage = new (std::nothrow)
        PropertyStorage(context_, std::move(set), writable, (grfMode & STGM_TRANSACTED) != 0, false);
    if (!storage) return E_OUTOFMEMORY;
    claim.HandOver();
    *ppprstg = storage;
    return S_OK;
  }

  STDMETHOD(Delete)(REFFMTID rfmtid) override {
    if (!context_->Store().CanWrite()) return STG_E_ACCESSDENIED;
    if (!context_->Claim(rfmtid)) return STG_E_ACCESSDENIED;
    ClaimGuard claim(*context_, rfmtid);
    auto lock = context_->IoLock();
    return DeletePropertySet(context_->Store(), context_->Cache(), rfmtid);
  }

  STDMETHOD(Enum)(IEnumSTATPROPSETSTG** ppenum) override {
    if (ppenum) *ppenum = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~PropertySetStorage() override = default;
  std::atomic<ULONG> refs_{1};
  std::shared_ptr<PropertySetContext> context_;
};

}  // namespace

}  // namespace posix
}  // namespace quorvane

HRESULT CreatePropertySetStorage(std::shared_ptr<quorvane::posix::StreamStore> store, IPropertySetStorage** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!store) return E_INVALIDARG;
  *out = new (std::nothrow) quorvane::posix::PropertySetStorage(std::move(store));
  return *out ? S_OK : E_OUTOFMEMORY;
}
