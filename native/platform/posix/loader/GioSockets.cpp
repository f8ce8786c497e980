#include "GioSockets.h"

#include <signal.h>

#include "GioLibrary.h"
#include "ImportSlot.h"

namespace quorvane {
namespace posix {

namespace {

// libgio's signal() while its socket class is set up: SIGPIPE is left as the
// host set it; any other signal goes through.
sighandler_t SignalKeepingSigpipe(int number, sighandler_t handler) {
  if (number != SIGPIPE) return ::signal(number, handler);
  struct sigaction current;
  ::sigaction(SIGPIPE, nullptr, &current);
  return (current.sa_flags & SA_SIGINFO) ? SIG_DFL : current.sa_handler;
}

}  // namespace

// Once per process: a second caller that saved the disposition while the
// first had it changed would put that back for good.
void InitSocketsKeepingSigpipe() {
  static const bool done = [] {
    struct sigaction host;
    ::sigaction(SIGPIPE, nullptr, &host);
    bool turnedAside;
    {
      ImportRedirect redirect(reinterpret_cast<const void*>(Gio().socket_get_type), "signal",
                              reinterpret_cast<void*>(&SignalKeepingSigpipe));
      turnedAside = redirect.Active();
      Gio().type_class_unref(Gio().type_class_ref(Gio().socket_get_type()));
    }
    // Where the call could not be turned aside, its change is undone at once.
    if (!turnedAside) ::sigaction(SIGPIPE, &host, nullptr);
    return true;
  }();
  static_cast<void>(done);
}

}  // namespace posix
}  // namespace quorvane
