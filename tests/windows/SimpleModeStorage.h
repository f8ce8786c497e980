// Wine's IPropertySetStorage refuses two modes that Windows accepts and
// DocfileProperties passes (STG_E_INVALIDFLAG): Open with STGM_SIMPLE, and
// Create without STGM_CREATE. On Wine, a storage handed to DocfileProperties
// by the tests is wrapped so that its property-set storage drops the one and
// adds the other (a set is only created after Open found none); every other
// call goes to ole32 unchanged.
#pragma once

#include <windows.h>

#include <atomic>

#include "OnWine.h"

namespace qvtest {

// One COM object over another of the same interface: answers IUnknown and
// that interface itself, counts its references, and releases the inner
// object with its last one.
template <typename Interface, const IID& kOwn>
class Wrapper : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = riid == IID_IUnknown || riid == kOwn ? this : nullptr;
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      inner_->Release();
      delete this;
    }
    return left;
  }

 protected:
  explicit Wrapper(Interface* inner) : inner_(inner) {}
  virtual ~Wrapper() = default;
  Interface* inner_;

 private:
  std::atomic<ULONG> references_{1};
};

class SimpleModeSets : public Wrapper<IPropertySetStorage, IID_IPropertySetStorage> {
 public:
  explicit SimpleModeSets(IPropertySetStorage* inner) : Wrapper(inner) {}
  HRESULT STDMETHODCALLTYPE Create(REFFMTID fmtid, const CLSID* clsid, DWORD flags, DWORD mode,
                                   IPropertyStorage** out) override {
    return inner_->Create(fmtid, clsid, flags, (mode & ~STGM_SIMPLE) | STGM_CREATE, out);
  }
  HRESULT STDMETHODCALLTYPE Open(REFFMTID fmtid, DWORD mode, IPropertyStorage** out) override {
    return inner_->Open(fmtid, mode & ~STGM_SIMPLE, out);
  }
  HRESULT STDMETHODCALLTYPE Delete(REFFMTID fmtid) override { return inner_->Delete(fmtid); }
  HRESULT STDMETHODCALLTYPE Enum(IEnumSTATPROPSETSTG** out) override { return inner_->Enum(out); }
};

class SimpleModeStorage : public Wrapper<IStorage, IID_IStorage> {
 public:
  explicit SimpleModeStorage(IStorage* inner) : Wrapper(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IPropertySetStorage && out != nullptr) {
      IPropertySetStorage* sets = nullptr;
      const HRESULT hr = inner_->QueryInterface(riid, reinterpret_cast<void**>(&sets));
      *out = SUCCEEDED(hr) ? static_cast<IPropertySetStorage*>(new SimpleModeSets(sets)) : nullptr;
      return hr;
    }
    const HRESULT hr = Wrapper::QueryInterface(riid, out);
    return hr == E_NOINTERFACE ? inner_->QueryInterface(riid, out) : hr;
  }
#define QV_FORWARD(method, parameters, arguments) \
  HRESULT STDMETHODCALLTYPE method parameters override { return inner_->method arguments; }
  QV_FORWARD(CreateStream, (const OLECHAR* n, DWORD m, DWORD r1, DWORD r2, IStream** o), (n, m, r1, r2, o))
  QV_FORWARD(OpenStream, (const OLECHAR* n, void* r1, DWORD m, DWORD r2, IStream** o), (n, r1, m, r2, o))
  QV_FORWARD(CreateStorage, (const OLECHAR* n, DWORD m, DWORD r1, DWORD r2, IStorage** o), (n, m, r1, r2, o))
  QV_FORWARD(OpenStorage, (const OLECHAR* n, IStorage* p, DWORD m, SNB x, DWORD r, IStorage** o), (n, p, m, x, r, o))
  QV_FORWARD(CopyTo, (DWORD n, const IID* x, SNB names, IStorage* to), (n, x, names, to))
  QV_FORWARD(MoveElementTo, (const OLECHAR* n, IStorage* to, const OLECHAR* m, DWORD f), (n, to, m, f))
  QV_FORWARD(Commit, (DWORD flags), (flags))
  QV_FORWARD(Revert, (), ())
  QV_FORWARD(EnumElements, (DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** o), (r1, r2, r3, o))
  QV_FORWARD(DestroyElement, (const OLECHAR* n), (n))
  QV_FORWARD(RenameElement, (const OLECHAR* from, const OLECHAR* to), (from, to))
  QV_FORWARD(SetElementTimes, (const OLECHAR* n, const FILETIME* c, const FILETIME* a, const FILETIME* m),
             (n, c, a, m))
  QV_FORWARD(SetClass, (REFCLSID clsid), (clsid))
  QV_FORWARD(SetStateBits, (DWORD bits, DWORD mask), (bits, mask))
  QV_FORWARD(Stat, (STATSTG* stat, DWORD flags), (stat, flags))
#undef QV_FORWARD
};

// Takes over one reference to storage; on Wine answers the wrapper.
inline IStorage* ForWine(IStorage* storage) {
  return storage != nullptr && OnWine() ? new SimpleModeStorage(storage) : storage;
}

}  // namespace qvtest
