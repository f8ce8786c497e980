// Task memory, the IUnknown identifier and the apartment count of the Linux COM subset.
#include <cstdlib>

#include "../ComBase.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

namespace {
thread_local ULONG t_apartmentCount = 0;
thread_local bool t_singleThreaded = false;
}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
  const bool single = (coInit & COINIT_APARTMENTTHREADED) != 0;
  if (t_apartmentCount > 0 && single != t_singleThreaded) return RPC_E_CHANGED_MODE;
  t_singleThreaded = single;
  return t_apartmentCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_apartmentCount > 0) --t_apartmentCount;
}
