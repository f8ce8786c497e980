// GIO's GSocket class set-up ignores SIGPIPE for the whole process, but the
// host keeps its own handler (the JVM reports a changed one). GLib's sockets
// send with MSG_NOSIGNAL, so they need no process-wide setting. The set-up's
// change cannot be avoided, only undone: it lasts the instant of that one
// set-up in the life of the process.
#pragma once

#include <signal.h>

#include "GioLibrary.h"

namespace quorvane {
namespace posix {

// Sets up GSocket's class, the host's SIGPIPE disposition kept. Call before
// the first D-Bus connection of the process; later calls change nothing.
// Once per process: a second caller that saved the disposition while the
// first had it ignored would put SIG_IGN back for good.
inline void InitSocketsKeepingSigpipe() {
  static const bool done = [] {
    struct sigaction host;
    ::sigaction(SIGPIPE, nullptr, &host);
    Gio().type_class_unref(Gio().type_class_ref(Gio().socket_get_type()));
    ::sigaction(SIGPIPE, &host, nullptr);
    return true;
  }();
  static_cast<void>(done);
}

}  // namespace posix
}  // namespace quorvane
