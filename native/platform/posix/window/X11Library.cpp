// dlopen of libX11 and libXss, once per process.
#include "X11Library.h"

#include <dlfcn.h>

namespace quorvane {
namespace posix {
namespace {

template <typename F>
bool Bind(void* library, const char* name, F* slot) {
  *slot = library == nullptr ? nullptr : reinterpret_cast<F>(dlsym(library, name));
  return *slot != nullptr;
}

X11Library* Load() {
  static X11Library table;
  void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (x11 == nullptr) return nullptr;
  bool ok = Bind(x11, "XOpenDisplay", &table.OpenDisplay) && Bind(x11, "XCloseDisplay", &table.CloseDisplay) &&
            Bind(x11, "XSetErrorHandler", &table.SetErrorHandler) &&
            Bind(x11, "XSetIOErrorHandler", &table.SetIOErrorHandler) &&
            Bind(x11, "XSetIOErrorExitHandler", &table.SetIOErrorExitHandler) && Bind(x11, "XSync", &table.Sync) &&
            Bind(x11, "XFlush", &table.Flush) && Bind(x11, "XFree", &table.Free) &&
            Bind(x11, "XInternAtom", &table.InternAtom) &&
            Bind(x11, "XGetWindowProperty", &table.GetWindowProperty) &&
            Bind(x11, "XChangeProperty", &table.ChangeProperty) &&
            Bind(x11, "XDeleteProperty", &table.DeleteProperty) &&
            Bind(x11, "XGetWindowAttributes", &table.GetWindowAttributes) &&
            Bind(x11, "XMapWindow", &table.MapWindow) && Bind(x11, "XUnmapWindow", &table.UnmapWindow) &&
            Bind(x11, "XRaiseWindow", &table.RaiseWindow) && Bind(x11, "XSendEvent", &table.SendEvent) &&
            Bind(x11, "XDefaultRootWindow", &table.DefaultRoot) &&
            Bind(x11, "XGetWMHints", &table.GetWMHints) && Bind(x11, "XSetWMHints", &table.SetWMHints);
  // libX11 stays loaded either way: it may be shared with the JVM's AWT.
  if (!ok) return nullptr;
  void* xss = dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!(Bind(xss, "XScreenSaverQueryExtension", &table.ScreenSaverQueryExtension) &&
        Bind(xss, "XScreenSaverAllocInfo", &table.ScreenSaverAllocInfo) &&
        Bind(xss, "XScreenSaverQueryInfo", &table.ScreenSaverQueryInfo))) {
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
