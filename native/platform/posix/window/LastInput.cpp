// GetLastInputInfo from the X server's idle time (XScreenSaver extension).
#include <new>

#include "WindowApi.h"
#include "X11Connection.h"
#include "../kernel/Process.h"

using quorvane::posix::X11Connection;

BOOL GetLastInputInfo(PLASTINPUTINFO plii) {
  if (plii == nullptr || plii->cbSize != sizeof(LASTINPUTINFO)) return FALSE;
  try {
    auto c = X11Connection::Open();
    if (!c || c->x().ScreenSaverQueryInfo == nullptr) return FALSE;
    int eventBase = 0, errorBase = 0;
    if (!c->x().ScreenSaverQueryExtension(c->display(), &eventBase, &errorBase)) return FALSE;
    XScreenSaverInfo* info = c->x().ScreenSaverAllocInfo();
    if (info == nullptr) return FALSE;
    const Status status = c->x().ScreenSaverQueryInfo(c->display(), c->Root(), info);
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
