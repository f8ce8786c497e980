// Xlib and the XScreenSaver extension, opened with dlopen on first use so
// that loading the library neither needs nor touches X11. The table is
// loaded once and never unloaded; every pointer is non-null when Get()
// answers a table.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>

namespace quorvane {
namespace posix {

struct X11Library {
  decltype(&::XOpenDisplay) OpenDisplay;
  decltype(&::XCloseDisplay) CloseDisplay;
  decltype(&::XSetErrorHandler) SetErrorHandler;
  decltype(&::XSetIOErrorHandler) SetIOErrorHandler;
  decltype(&::XSetIOErrorExitHandler) SetIOErrorExitHandler;
  decltype(&::XSync) Sync;
  decltype(&::XFlush) Flush;
  decltype(&::XFree) Free;
  decltype(&::XInternAtom) InternAtom;
  decltype(&::XGetWindowProperty) GetWindowProperty;
  decltype(&::XChangeProperty) ChangeProperty;
  decltype(&::XDeleteProperty) DeleteProperty;
  decltype(&::XGetWindowAttributes) GetWindowAttributes;
  decltype(&::XMapWindow) MapWindow;
  decltype(&::XUnmapWindow) UnmapWindow;
  decltype(&::XRaiseWindow) RaiseWindow;
  decltype(&::XSendEvent) SendEvent;
  decltype(&::XDefaultRootWindow) DefaultRoot;
  decltype(&::XGetWMHints) GetWMHints;
  decltype(&::XSetWMHints) SetWMHints;
  // XScreenSaver; null when libXss is missing (only the idle time needs it).
  decltype(&::XScreenSaverQueryExtension) ScreenSaverQueryExtension;
  decltype(&::XScreenSaverAllocInfo) ScreenSaverAllocInfo;
  decltype(&::XScreenSaverQueryInfo) ScreenSaverQueryInfo;

  // Null when libX11 (1.7 or later, for the per-display exit handler) is missing.
  static const X11Library* Get();
};

}  // namespace posix
}  // namespace quorvane
