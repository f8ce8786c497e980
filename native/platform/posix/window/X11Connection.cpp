// Per-call X connections with trapped errors.
#include "X11Connection.h"

#include <X11/Xatom.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

#include "X11Probe.h"

namespace quorvane {
namespace posix {
namespace {

constexpr int kProbeTimeoutMs = 2000;
// X resource ids have 29 bits.
constexpr uintptr_t kLargestXid = 0x1FFFFFFFu;

// Errors seen on our displays since their last SyncOk. Never destroyed: an
// error may arrive while statics are being torn down.
struct ErrorRegistry {
  std::mutex mutex;
  std::unordered_map<Display*, bool> failed;
  XErrorHandler previous = nullptr;
  XIOErrorHandler previousIo = nullptr;
};

ErrorRegistry& Registry() {
  static ErrorRegistry* registry = new ErrorRegistry();
  return *registry;
}

// Marks an error on one of our displays (true); for any other display
// hands back the handler of that kind that was there before ours.
template <class Handler>
bool MarkIfOurs(Display* display, Handler ErrorRegistry::*previous, Handler* forward) {
  ErrorRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.failed.find(display);
  if (it != r.failed.end()) {
    it->second = true;
    return true;
  }
  *forward = r.*previous;
  return false;
}

int OnError(Display* display, XErrorEvent* event) {
  XErrorHandler forward = nullptr;
  if (MarkIfOurs(display, &ErrorRegistry::previous, &forward)) return 0;
  return forward != nullptr ? forward(display, event) : 0;
}

int OnIoError(Display* display) {
  XIOErrorHandler forward = nullptr;
  if (MarkIfOurs(display, &ErrorRegistry::previousIo, &forward)) return 0;
  return forward != nullptr ? forward(display) : 0;
}

// Returning keeps the process alive; Xlib then treats the display as dead.
void OnIoErrorExit(Display*, void*) {}

// Our handlers are installed while at least one of our connections is open.
std::mutex g_installMutex;
int g_openConnections = 0;

void InstallHandlers(const X11Library& x) {
  std::lock_guard<std::mutex> lock(g_installMutex);
  if (g_openConnections++ > 0) return;
  XErrorHandler previous = x.SetErrorHandler(OnError);
  XIOErrorHandler previousIo = x.SetIOErrorHandler(OnIoError);
  ErrorRegistry& r = Registry();
  std::lock_guard<std::mutex> registryLock(r.mutex);
  r.previous = previous == OnError ? nullptr : previous;
  r.previousIo = previousIo == OnIoError ? nullptr : previousIo;
}

void RemoveHandlers(const X11Library& x) {
  std::lock_guard<std::mutex> lock(g_installMutex);
  if (--g_openConnections > 0) return;
  XErrorHandler previous;
  XIOErrorHandler previousIo;
  {
    ErrorRegistry& r = Registry();
    std::lock_guard<std::mutex> registryLock(r.mutex);
    previous = r.previous;
    previousIo = r.previousIo;
  }
  // Someone who replaced ours meanwhile keeps theirs.
  XErrorHandler current = x.SetErrorHandler(previous);
  if (current != OnError) x.SetErrorHandler(current);
  XIOErrorHandler currentIo = x.SetIOErrorHandler(previousIo);
  if (currentIo != OnIoError) x.SetIOErrorHandler(currentIo);
}

// The format-32 items (C longs) of a window property of `type`, at most
// `most` of them; empty when the property is missing or of another kind.
std::vector<unsigned long> ReadLongs(const X11Library& x, Display* display, ::Window window, Atom property,
                                     Atom type, long most) {
  std::vector<unsigned long> items;
  Atom actualType = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const int rc = x.GetWindowProperty(display, window, property, 0, most, False, type, &actualType, &format, &count,
                                     &after, &data);
  if (rc == Success && actualType == type && format == 32 && data != nullptr) {
    const unsigned long* list = reinterpret_cast<const unsigned long*>(data);
    items.assign(list, list + count);
  }
  if (data != nullptr) x.Free(data);
  return items;
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::Open() {
  const X11Library* x = X11Library::Get();
  if (x == nullptr) return nullptr;
  const char* name = std::getenv("DISPLAY");
  if (!X11ServerAnswers(name, kProbeTimeoutMs)) return nullptr;
  InstallHandlers(*x);
  Display* display = x->OpenDisplay(name);
  if (display == nullptr) {
    RemoveHandlers(*x);
    return nullptr;
  }
  x->SetIOErrorExitHandler(display, OnIoErrorExit, nullptr);
  try {
    ErrorRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.failed[display] = false;
    return std::unique_ptr<X11Connection>(new X11Connection(*x, display));
  } catch (const std::bad_alloc&) {
    x->CloseDisplay(display);
    RemoveHandlers(*x);
    return nullptr;
  }
}

X11Connection::~X11Connection() {
  x_.CloseDisplay(display_);
  {
    ErrorRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.failed.erase(display_);
  }
  RemoveHandlers(x_);
}

// Xlib's macro reads the display's own record: no call into the library.
::Window X11Connection::Root() const { return DefaultRootWindow(display_); }

Atom X11Connection::AtomNamed(const char* name) const { return x_.InternAtom(display_, name, False); }

bool X11Connection::SyncOk() {
  x_.Sync(display_, False);
  ErrorRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  bool& failed = r.failed[display_];
  const bool ok = !failed;
  failed = false;
  return ok;
}

::Window X11Connection::WindowFromHandle(const void* handle, XWindowAttributes* attributes) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > kLargestXid) return 0;
  const ::Window window = static_cast<::Window>(value);
  SyncOk();  // forget anything earlier
  const Status status = x_.GetWindowAttributes(display_, window, attributes);
  return SyncOk() && status != 0 ? window : 0;
}

bool X11Connection::GetCardinal(::Window window, Atom property, unsigned long* value) {
  const std::vector<unsigned long> items = ReadLongs(x_, display_, window, property, XA_CARDINAL, 1);
  if (items.size() != 1) return false;
  // Of a format-32 item only the low 32 bits count.
  *value = items[0] & 0xFFFFFFFFul;
  return true;
}

void X11Connection::SetCardinal(::Window window, Atom property, unsigned long value) {
  x_.ChangeProperty(display_, window, property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&value), 1);
}

std::vector<Atom> X11Connection::GetAtoms(::Window window, Atom property) {
  const std::vector<unsigned long> items = ReadLongs(x_, display_, window, property, XA_ATOM, 1024);
  return std::vector<Atom>(items.begin(), items.end());
}

void X11Connection::SetAtoms(::Window window, Atom property, const std::vector<Atom>& atoms) {
  x_.ChangeProperty(display_, window, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
}

bool X11Connection::WindowManagerRunning() {
  const Atom check = AtomNamed("_NET_SUPPORTING_WM_CHECK");
  const auto windowProperty = [&](::Window on, ::Window* value) {
    const std::vector<unsigned long> items = ReadLongs(x_, display_, on, check, XA_WINDOW, 1);
    if (items.size() != 1) return false;
    *value = static_cast<::Window>(items[0]);
    return true;
  };
  SyncOk();
  ::Window child = 0, self = 0;
  // A window manager that has gone leaves a stale id on the root; the child
  // must exist and name itself.
  if (!windowProperty(Root(), &child)) return false;
  const bool found = windowProperty(child, &self);
  return SyncOk() && found && self == child;
}

void X11Connection::SendToRoot(::Window window, Atom messageType, long l0, long l1, long l2, long l3) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = messageType;
  event.xclient.format = 32;
  event.xclient.data.l[0] = l0;
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  event.xclient.data.l[3] = l3;
  x_.SendEvent(display_, Root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace posix
}  // namespace quorvane
