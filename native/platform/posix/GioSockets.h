// GIO's GSocket class set-up ignores SIGPIPE for the whole process, but the
// host keeps its own handler (the JVM reports a changed one). GLib's sockets
// send with MSG_NOSIGNAL, so they need no process-wide setting.
#pragma once

#include <gio/gio.h>
#include <signal.h>

namespace quorvane {
namespace posix {

// Sets up GSocket's class, the host's SIGPIPE disposition kept. Call before
// the first D-Bus connection of the process; later calls change nothing.
inline void InitSocketsKeepingSigpipe() {
  struct sigaction host;
  ::sigaction(SIGPIPE, nullptr, &host);
  g_type_class_unref(g_type_class_ref(G_TYPE_SOCKET));
  ::sigaction(SIGPIPE, &host, nullptr);
}

}  // namespace posix
}  // namespace quorvane
