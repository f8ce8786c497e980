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
template <typename Interface>
class Wrapper : public Interface {
 public:
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
  // S_OK for IUnknown and `own`; E_NOINTERFACE otherwise.
  HRESULT Answer(REFIID riid, REFIID own, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != own) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }

  Interface* inner_;

 private:
  std::atomic<ULONG> references_{1};
};

class SimpleModeSets : public Wrapper<IPropertySetStorage> {
 public:
  explicit SimpleModeSets(IPropertySetStorage* inner) : Wrapper(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    return Answer(riid, IID_IPropertySetStorage, out);
  }
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

class SimpleModeStorage : public Wrapper<IStorage> {
 public:
  explicit SimpleModeStorage(IStorage* inner) : Wrapper(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IPropertySetStorage && out != nullptr) {
      IPropertySetStorage* sets = nullptr;
      const HRESULT hr = inner_->QueryInterface(riid, reinterpret_cast<void**>(&sets));
      *out = SUCCEEDED(hr) ? static_cast<IPropertySetStorage*>(new SimpleModeSets(sets)) : nullptr;
      return hr;
    }
    const HRESULT hr = Answer(riid, IID_IStorage, out);
    return hr == E_NOINTERFACE ? inner_->QueryInterface(riid, out) : hr;
  }
  HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override {
    return inner_->CreateStream(name, mode, r1, r2, out);
  }
  HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR* name, void* r1, DWORD mode, DWORD r2, IStream** out) override {
    return inner_->OpenStream(name, r1, mode, r2, out);
  }
  HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2,
                                          IStorage** out) override {
    return inner_->CreateStorage(name, mode, r1, r2, out);
  }
  HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD r,
                                        IStorage** out) override {
    return inner_->OpenStorage(name, priority, mode, exclude, r, out);
  }
  HRESULT STDMETHODCALLTYPE CopyTo(DWORD n, const IID* exclude, SNB names, IStorage* to) override {
    return inner_->CopyTo(n, exclude, names, to);
  }
  HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR* name, IStorage* to, const OLECHAR* newName,
                                          DWORD flags) override {
    return inner_->MoveElementTo(name, to, newName, flags);
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return inner_->Commit(flags); }
  HRESULT STDMETHODCALLTYPE Revert() override { return inner_->Revert(); }
  HRESULT STDMETHODCALLTYPE EnumElements(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) override {
    return inner_->EnumElements(r1, r2, r3, out);
  }
  HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR* name) override { return inner_->DestroyElement(name); }
  HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR* from, const OLECHAR* to) override {
    return inner_->RenameElement(from, to);
  }
  HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR* name, const FILETIME* c, const FILETIME* a,
                                            const FILETIME* m) override {
    return inner_->SetElementTimes(name, c, a, m);
  }
  HRESULT STDMETHODCALLTYPE SetClass(REFCLSID clsid) override { return inner_->SetClass(clsid); }
  HRESULT STDMETHODCALLTYPE SetStateBits(DWORD bits, DWORD mask) override { return inner_->SetStateBits(bits, mask); }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }
};

// Takes over one reference to storage; on Wine answers the wrapper.
inline IStorage* ForWine(IStorage* storage) {
  return storage != nullptr && OnWine() ? new SimpleModeStorage(storage) : storage;
}

}  // namespace qvtest
