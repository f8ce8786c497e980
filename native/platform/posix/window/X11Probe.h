// Whether an X server answers at a DISPLAY name, decided within a time
// limit (XOpenDisplay itself can block for minutes on an unreachable host or
// for ever on a stopped server).
#pragma once

namespace quorvane {
namespace posix {

// Connects as Xlib would (local socket for ":N" and "unix:N", TCP port
// 6000+N for "host:N") and sends the X11 connection setup; true when the
// server answers (accepting or refusing) within timeoutMs.
bool X11ServerAnswers(const char* displayName, int timeoutMs);

}  // namespace posix
}  // namespace quorvane
