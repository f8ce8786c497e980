// dlopen of libX11 and libXss, once per process.
#include "X11Library.h"

#include <dlfcn.h>

#include "../DynamicSymbols.h"

namespace quorvane {
namespace posix {
namespace {

X11Library* Load() {
  static X11Library table;
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (x11 == nullptr) return nullptr;
  bool ok = BindSymbol(x11, "XOpenDisplay", &table.OpenDisplay) &&
            BindSymbol(x11, "XCloseDisplay", &table.CloseDisplay) &&
            BindSymbol(x11, "XSetErrorHandler", &table.SetErrorHandler) &&
            BindSymbol(x11, "XSetIOErrorHandler", &table.SetIOErrorHandler) &&
            BindSymbol(x11, "XSetIOErrorExitHandler", &table.SetIOErrorExitHandler) &&
            BindSymbol(x11, "XSync", &table.Sync) &&
            BindSymbol(x11, "XFlush", &table.Flush) &&
            BindSymbol(x11, "XFree", &table.Free) &&
            BindSymbol(x11, "XInternAtom", &table.InternAtom) &&
            BindSymbol(x11, "XGetWindowProperty", &table.GetWindowProperty) &&
            BindSymbol(x11, "XChangeProperty", &table.ChangeProperty) &&
            BindSymbol(x11, "XDeleteProperty", &table.DeleteProperty) &&
            BindSymbol(x11, "XGetWindowAttributes", &table.GetWindowAttributes) &&
            BindSymbol(x11, "XMapWindow", &table.MapWindow) &&
            BindSymbol(x11, "XUnmapWindow", &table.UnmapWindow) &&
            BindSymbol(x11, "XRaiseWindow", &table.RaiseWindow) &&
            BindSymbol(x11, "XSendEvent", &table.SendEvent) &&
            BindSymbol(x11, "XDefaultRootWindow", &table.DefaultRoot) &&
            BindSymbol(x11, "XGetWMHints", &table.GetWMHints) &&
            BindSymbol(x11, "XSetWMHints", &table.SetWMHints);
  // libX11 stays loaded either way: it may be shared with the JVM's AWT.
  if (!ok) return nullptr;
  void* xss = dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!(BindSymbol(xss, "XScreenSaverQueryExtension", &table.ScreenSaverQueryExtension) &&
        BindSymbol(xss, "XScreenSaverAllocInfo", &table.ScreenSaverAllocInfo) &&
        BindSymbol(xss, "XScreenSaverQueryInfo", &table.ScreenSaverQueryInfo))) {
    table.ScreenSaverQueryExtension = nullptr;
    table.ScreenSaverAllocInfo = nullptr;
    table.ScreenSaverQueryInfo = nullptr;
  }
  return &table;
}

}  // namespace

const X11Library* X11Library::Get() {
  static const X11Library* const library = Load();
  return library;
}

}  // namespace posix
}  // namespace quorvane
