#include "StatPropertyEnum.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace quorvane {
namespace posix {

void StatEntries::Add(PROPID id, VARTYPE vt, const std::wstring* name) {
  entries.push_back({id, vt, name != nullptr, names.size(), name ? name->size() : 0});
  if (name) names.append(*name).push_back(L'\0');
}

HRESULT StatPropertyEnum::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumSTATPROPSTG) {
    *ppvObject = static_cast<IEnumSTATPROPSTG*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

ULONG StatPropertyEnum::AddRef() { return ++refs_; }

ULONG StatPropertyEnum::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT StatPropertyEnum::Next(ULONG celt, STATPROPSTG* rgelt, ULONG* pceltFetched) {
  if (!rgelt || (celt != 1 && !pceltFetched)) return STG_E_INVALIDPARAMETER;
  ULONG fetched = 0;
  while (fetched < celt && position_ < entries_->entries.size()) {
    const StatEntry& entry = entries_->entries[position_];
    STATPROPSTG& out = rgelt[fetched];
    out.propid = entry.id;
    out.vt = entry.vt;
    out.lpwstrName = nullptr;
    if (entry.named) {
      out.lpwstrName = static_cast<LPOLESTR>(CoTaskMemAlloc((entry.nameLength + 1) * sizeof(OLECHAR)));
      if (!out.lpwstrName) {
        for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(rgelt[i].lpwstrName);
        if (pceltFetched) *pceltFetched = 0;
        return E_OUTOFMEMORY;
      }
      std::wmemcpy(out.lpwstrName, entries_->names.data() + entry.nameAt, entry.nameLength + 1);
    }
    ++fetched;
    ++position_;
  }
  if (pceltFetched) *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT StatPropertyEnum::Skip(ULONG celt) {
  const size_t left = entries_->entries.size() - position_;
  if (celt > left) {
    position_ = entries_->entries.size();
    return S_FALSE;
  }
  position_ += celt;
  return S_OK;
}

HRESULT StatPropertyEnum::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT StatPropertyEnum::Clone(IEnumSTATPROPSTG** ppenum) {
  if (!ppenum) return STG_E_INVALIDPOINTER;
  *ppenum = new (std::nothrow) StatPropertyEnum(entries_, position_);
  return *ppenum ? S_OK : E_OUTOFMEMORY;
}

}  // namespace posix
}  // namespace quorvane
