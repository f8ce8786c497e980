// Xlib and the XScreenSaver extension, opened with dlopen on first use so
// that loading the library neither needs nor touches X11 (DynamicSymbols.h).
// X11Library::Get() is null when libX11.so.6 (1.7 or later, for the
// per-display exit handler) is missing, and the window calls answer as
// without a display; XssLibrary::Get() is null when libXss.so.1 is missing,
// which only the idle time needs.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/scrnsaver.h>

#include "../loader/DynamicSymbols.h"

#define QV_X11_FUNCTIONS(F)                                                                                     \
  F(X, OpenDisplay) F(X, CloseDisplay) F(X, SetErrorHandler) F(X, SetIOErrorHandler) F(X, SetIOErrorExitHandler) \
  F(X, Sync) F(X, Flush) F(X, Free) F(X, InternAtom) F(X, GetWindowProperty) F(X, ChangeProperty)               \
  F(X, DeleteProperty) F(X, GetWindowAttributes) F(X, MapWindow) F(X, UnmapWindow) F(X, RaiseWindow)            \
  F(X, SendEvent) F(X, GetWMHints) F(X, SetWMHints)

#define QV_XSS_FUNCTIONS(F) F(XScreenSaver, QueryExtension) F(XScreenSaver, AllocInfo) F(XScreenSaver, QueryInfo)

namespace quorvane {
namespace posix {

QV_DYNAMIC_TABLE(X11Library, QV_X11_FUNCTIONS);
QV_DYNAMIC_TABLE(XssLibrary, QV_XSS_FUNCTIONS);

}  // namespace posix
}  // namespace quorvane
