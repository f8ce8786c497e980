// GetDesktopWindow: the X11 root window, which is what every top-level
// window's position is relative to, as the desktop window is on Windows.
#include <cstdint>
#include <new>

#include "WindowApi.h"
#include "X11Connection.h"

using quorvane::posix::X11Connection;

HWND GetDesktopWindow() {
  try {
    auto c = X11Connection::Open();
    if (!c) return nullptr;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(c->Root()));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
