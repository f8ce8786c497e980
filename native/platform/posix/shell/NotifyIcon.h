// Internals of Shell_NotifyIconW (NotifyIcon*.cpp): what is kept of each
// icon, and the session bus side that shows it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "../base/WinTypes.h"
#include "ShellApi.h"

namespace quorvane {
namespace posix {
namespace notify {

// Icons are kept per (hWnd, uID), as the shell keeps them.
using IconKey = std::pair<uintptr_t, UINT>;

// One icon as the desktop sees it (texts UTF-8).
struct IconView {
  IconKey key;
  std::string iconName;  // theme name; empty for none
  std::string tip;
  bool hidden = false;
};

// A balloon (NIF_INFO) as a desktop notification.
struct Balloon {
  std::string title, text;
  std::string iconName;  // theme name of the notification's icon
  bool error = false;    // NIIF_ERROR: critical urgency
  bool quiet = false;    // NIIF_NOSOUND
};

// The session bus of the process's D-Bus address, used only from behind
// these calls. Show and Remove never wait for the bus; Notify and Close wait
// only for the first connection to an address (1 s at most) and Notify for
// its answer (1 s), unless that server let one time out and has not
// answered since; a bus that failed is tried again later, without a
// caller waiting. With no session bus (DBUS_SESSION_BUS_ADDRESS unset, or an
// autolaunch address, which we never start) each does nothing. Thread-safe.
class SessionBus {
 public:
  // Exports or updates the icon as a StatusNotifierItem (registered with the
  // StatusNotifierWatcher when one runs).
  static void Show(const IconView& icon);
  static void Remove(const IconKey& key);
  // The notification's id (0 when none was shown); Close takes it back.
  static uint32_t Notify(const Balloon& balloon);
  static void Close(uint32_t notificationId);
};

}  // namespace notify
}  // namespace posix
}  // namespace quorvane
