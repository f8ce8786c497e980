// Wine refuses Open with STGM_SIMPLE and Create without STGM_CREATE, which Windows accepts: adjusted there.
#pragma once

#include <windows.h>

#include <algorithm>

#include "OnWine.h"

namespace qvtest {

// QueryInterface, AddRef, Release, Create, Open, Delete, Enum: Wine's one table, and the copy.
inline void* ole32Sets[7];
inline void* simpleModeSets[7];

inline HRESULT STDMETHODCALLTYPE SimpleModeCreate(IPropertySetStorage* self, REFFMTID fmtid, const CLSID* clsid,
                                                  DWORD flags, DWORD mode, IPropertyStorage** out) {
  const auto create = reinterpret_cast<decltype(&SimpleModeCreate)>(ole32Sets[3]);  // the same signature
  return create(self, fmtid, clsid, flags, (mode & ~STGM_SIMPLE) | STGM_CREATE, out);
}

inline HRESULT STDMETHODCALLTYPE SimpleModeOpen(IPropertySetStorage* self, REFFMTID fmtid, DWORD mode,
                                                IPropertyStorage** out) {
  return reinterpret_cast<decltype(&SimpleModeOpen)>(ole32Sets[4])(self, fmtid, mode & ~STGM_SIMPLE, out);
}

// Takes over one reference to storage and answers it, on Wine adjusted.
inline IStorage* ForWine(IStorage* storage) {
  IPropertySetStorage* sets = nullptr;
  if (storage == nullptr || !OnWine() ||
      FAILED(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets))))
    return storage;
  void**& table = *reinterpret_cast<void***>(sets);
  if (table != simpleModeSets) {
    std::copy(table, table + 7, ole32Sets);
    std::copy(table, table + 7, simpleModeSets);
    simpleModeSets[3] = reinterpret_cast<void*>(&SimpleModeCreate);
    simpleModeSets[4] = reinterpret_cast<void*>(&SimpleModeOpen);
    table = simpleModeSets;
  }
  sets->Release();
  return storage;
}

}  // namespace qvtest
