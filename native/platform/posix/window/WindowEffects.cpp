// SetLayeredWindowAttributes, FlashWindow and AnimateWindow on X11 windows,
// through the EWMH properties that compositors and window managers honour.
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "WindowApi.h"
#include "X11Connection.h"

using quorvane::posix::X11Connection;

namespace {

constexpr DWORD kLongestAnimationMs = 10000;  // a caller's huge time must not hang it
constexpr DWORD kFrameMs = 15;
constexpr DWORD kKnownLayeredFlags = LWA_COLORKEY | LWA_ALPHA;
constexpr DWORD kDirections = AW_HOR_POSITIVE | AW_HOR_NEGATIVE | AW_VER_POSITIVE | AW_VER_NEGATIVE;
constexpr DWORD kKnownAnimateFlags = kDirections | AW_CENTER | AW_HIDE | AW_ACTIVATE | AW_SLIDE | AW_BLEND;
// _NET_WM_STATE client message actions and the "normal application" source.
constexpr long kStateRemove = 0;
constexpr long kStateAdd = 1;
constexpr long kSourceApplication = 1;

// _NET_WM_WINDOW_OPACITY spans 0..0xFFFFFFFF; 0xFF maps to fully opaque.
unsigned long OpacityFromAlpha(BYTE alpha) { return static_cast<unsigned long>(alpha) * 0x01010101ul; }
constexpr unsigned long kOpaque = 0xFFFFFFFFul;

void SleepMs(DWORD ms) {
  struct timespec t = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Every entry point: a connection or FALSE, and no exception past here.
template <typename Body>
BOOL WithDisplay(Body body) {
  try {
    auto connection = X11Connection::Open();
    if (!connection) return FALSE;
    return body(*connection);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
}

bool IsVisible(const XWindowAttributes& attributes) { return attributes.map_state != IsUnmapped; }

// Steps the opacity from `from` to `to` over `ms`, flushing each frame.
void Fade(X11Connection& c, ::Window window, Atom opacity, unsigned long from, unsigned long to, DWORD ms) {
  const DWORD frames = std::max<DWORD>(1, ms / kFrameMs);
  for (DWORD i = 1; i <= frames; ++i) {
    const double share = static_cast<double>(i) / frames;
    const double value = static_cast<double>(from) + (static_cast<double>(to) - static_cast<double>(from)) * share;
    c.SetCardinal(window, opacity, static_cast<unsigned long>(value));
    c.x().Flush(c.display());
    SleepMs(ms / frames);
  }
}

void SetUrgencyHint(X11Connection& c, ::Window window, bool urgent) {
  XWMHints* hints = c.x().GetWMHints(c.display(), window);
  XWMHints fresh{};
  XWMHints* target = hints != nullptr ? hints : &fresh;
  if (urgent)
    target->flags |= XUrgencyHint;
  else
    target->flags &= ~XUrgencyHint;
  c.x().SetWMHints(c.display(), window, target);
  if (hints != nullptr) c.x().Free(hints);
}

}  // namespace

BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF, BYTE bAlpha, DWORD dwFlags) {
  if ((dwFlags & ~kKnownLayeredFlags) != 0) return FALSE;
  // A colour key alone cannot be expressed on X11.
  if (dwFlags == LWA_COLORKEY) return FALSE;
  return WithDisplay([&](X11Connection& c) -> BOOL {
    XWindowAttributes attributes;
    const ::Window window = c.WindowFromHandle(hwnd, &attributes);
    if (window == 0) return FALSE;
    if (dwFlags & LWA_ALPHA) c.SetCardinal(window, c.AtomNamed("_NET_WM_WINDOW_OPACITY"), OpacityFromAlpha(bAlpha));
    return c.SyncOk() ? TRUE : FALSE;
  });
}

BOOL FlashWindow(HWND hWnd, BOOL bInvert) {
  return WithDisplay([&](X11Connection& c) -> BOOL {
    XWindowAttributes attributes;
    const ::Window window = c.WindowFromHandle(hWnd, &attributes);
    if (window == 0) return FALSE;
    const Atom state = c.AtomNamed("_NET_WM_STATE");
    const Atom attention = c.AtomNamed("_NET_WM_STATE_DEMANDS_ATTENTION");
    std::vector<Atom> states = c.GetAtoms(window, state);
    const auto found = std::find(states.begin(), states.end(), attention);
    const bool before = found != states.end();
    const bool want = bInvert != FALSE;

    // A window manager owns _NET_WM_STATE of a mapped window and takes
    // requests; otherwise the property is ours to write.
    if (IsVisible(attributes) && c.WindowManagerRunning()) {
      c.SendToRoot(window, state, want ? kStateAdd : kStateRemove, static_cast<long>(attention), 0,
                   kSourceApplication);
    } else if (want != before) {
      if (want)
        states.push_back(attention);
      else
        states.erase(std::remove(states.begin(), states.end(), attention), states.end());
      c.SetAtoms(window, state, states);
    }
    SetUrgencyHint(c, window, want);
    return c.SyncOk() && before ? TRUE : FALSE;
  });
}

BOOL AnimateWindow(HWND hWnd, DWORD dwTime, DWORD dwFlags) {
  if ((dwFlags & ~kKnownAnimateFlags) != 0) return FALSE;
  const bool blend = (dwFlags & AW_BLEND) != 0;
  // Roll and slide need a direction (or, for roll, the centre).
  if (!blend && (dwFlags & (kDirections | AW_CENTER)) == 0) return FALSE;
  const bool hide = (dwFlags & AW_HIDE) != 0;
  const DWORD time = std::min(dwTime, kLongestAnimationMs);
  return WithDisplay([&](X11Connection& c) -> BOOL {
    XWindowAttributes attributes;
    const ::Window window = c.WindowFromHandle(hWnd, &attributes);
    if (window == 0 || IsVisible(attributes) != hide) return FALSE;
    const Atom opacity = c.AtomNamed("_NET_WM_WINDOW_OPACITY");
    unsigned long own = kOpaque;
    const bool hasOwn = c.GetCardinal(window, opacity, &own);

    if (hide) {
      if (blend) Fade(c, window, opacity, own, 0, time);
      c.x().UnmapWindow(c.display(), window);
    } else {
      if (blend) {
        c.SetCardinal(window, opacity, 0);
      }
      c.x().MapWindow(c.display(), window);
      if (dwFlags & AW_ACTIVATE) {
        c.x().RaiseWindow(c.display(), window);
        if (c.WindowManagerRunning())
          c.SendToRoot(window, c.AtomNamed("_NET_ACTIVE_WINDOW"), kSourceApplication, 0, 0, 0);
      }
      if (blend) Fade(c, window, opacity, 0, own, time);
    }
    // The window keeps the opacity it had of its own.
    if (blend) {
      if (hasOwn)
        c.SetCardinal(window, opacity, own);
      else
        c.x().DeleteProperty(c.display(), window, opacity);
    }
    return c.SyncOk() ? TRUE : FALSE;
  });
}
