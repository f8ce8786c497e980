// One short connection to the X server named by DISPLAY, for one call.
//
// Opening never blocks for long: before XOpenDisplay the server is probed
// with a connection of our own that must answer the X11 connection setup
// within a second (an unreachable host, a dead socket or a stopped server
// all answer "no display"). While any of our connections is open, X error
// and I/O error handlers of ours are installed; they record errors on our
// displays and hand errors on any other display (the JVM's AWT, say) to the
// handlers that were there before, so nobody's process ends on our account.
//
// A connection belongs to the thread that opened it.
#pragma once

#include <memory>
#include <vector>

#include "X11Library.h"

namespace quorvane {
namespace posix {

class X11Connection {
 public:
  // Null when there is no reachable display (or no libX11).
  static std::unique_ptr<X11Connection> Open();
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  const X11Library& x() const { return x_; }
  Display* display() const { return display_; }
  ::Window Root() const;
  Atom AtomNamed(const char* name) const;

  // Waits for the server to process every request so far; false when any
  // of them failed (or the connection broke) since the last call.
  bool SyncOk();

  // The window for a handle, or 0 when the value cannot be a window id or
  // the server knows no such window.
  ::Window WindowFromHandle(const void* handle, XWindowAttributes* attributes);

  // 32-bit CARDINAL and ATOM list properties.
  bool GetCardinal(::Window window, Atom property, unsigned long* value);
  void SetCardinal(::Window window, Atom property, unsigned long value);
  std::vector<Atom> GetAtoms(::Window window, Atom property);
  void SetAtoms(::Window window, Atom property, const std::vector<Atom>& atoms);

  // Whether an EWMH window manager runs (it then owns _NET_WM_STATE).
  bool WindowManagerRunning();
  // A _NET_* client message about `window` to the root window.
  void SendToRoot(::Window window, Atom messageType, long l0, long l1, long l2, long l3);

 private:
  X11Connection(const X11Library& x, Display* display) : x_(x), display_(display) {}

  const X11Library& x_;
  Display* const display_;
};

}  // namespace posix
}  // namespace quorvane
