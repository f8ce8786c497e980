// The COM subset the library uses on Linux: IUnknown, interface ids and
// reference counting with the Windows contract (AddRef/Release return the new
// count; the object deletes itself at zero), and each thread's apartment
// count (CoInitializeEx/CoUninitialize), kept as Windows keeps it though no
// Linux service needs an apartment.
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

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define COINIT_DISABLE_OLE1DDE 0x4u
#define RPC_E_CHANGED_MODE static_cast<HRESULT>(0x80010106u)

// S_OK for the thread's first call, S_FALSE for a later one of the same
// model (each to be balanced by CoUninitialize), RPC_E_CHANGED_MODE when the
// thread already has the other model.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
