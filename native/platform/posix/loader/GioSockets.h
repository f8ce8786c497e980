// GIO's GSocket class set-up ignores SIGPIPE for the whole process, but the
// host keeps its own handler (the JVM checks that nobody changed it). GLib's
// sockets send with MSG_NOSIGNAL, so they need no process-wide setting: the
// set-up's call is turned aside, and the handler never changes, not even for
// an instant.
#pragma once

namespace quorvane {
namespace posix {

// Sets up GSocket's class, the host's SIGPIPE disposition kept. Call before
// the first D-Bus connection of the process; later calls change nothing.
void InitSocketsKeepingSigpipe();

}  // namespace posix
}  // namespace quorvane
