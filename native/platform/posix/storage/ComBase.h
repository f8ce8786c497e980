// The COM subset the library uses on Linux: IUnknown, interface ids and
// reference counting with the Windows contract (AddRef/Release return the new
// count; the object deletes itself at zero).
#pragma once

#include "../base/WinError.h"
#include "../base/WinTypes.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  virtual ~IUnknown() = default;
};

extern const IID IID_IUnknown;

// Allocation of memory handed across the interfaces (names, enumerations).
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID pv);
