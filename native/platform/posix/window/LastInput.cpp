// GetLastInputInfo from the X server's idle time (XScreenSaver extension).
#include <new>

#include "WindowApi.h"
#include "X11Connection.h"
#include "../kernel/Process.h"

using quorvane::posix::X11Connection;
using quorvane::posix::XssLibrary;

BOOL GetLastInputInfo(PLASTINPUTINFO plii) {
  if (plii == nullptr || plii->cbSize != sizeof(LASTINPUTINFO)) return FALSE;
  try {
    const XssLibrary* xss = XssLibrary::Get();
    if (xss == nullptr) return FALSE;
    auto c = X11Connection::Open();
    if (!c) return FALSE;
    int eventBase = 0, errorBase = 0;
    if (!xss->QueryExtension(c->display(), &eventBase, &errorBase)) return FALSE;
    XScreenSaverInfo* info = xss->AllocInfo();
    if (info == nullptr) return FALSE;
    const Status status = xss->QueryInfo(c->display(), c->Root(), info);
    const unsigned long idleMs = info->idle;
    c->x().Free(info);
    if (status == 0 || !c->SyncOk()) return FALSE;
    // Both sides wrap modulo 2^32, as GetTickCount does.
    plii->dwTime = GetTickCount() - static_cast<DWORD>(idleMs);
    return TRUE;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}
