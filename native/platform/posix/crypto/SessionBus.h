// One private connection to the session bus for the key store, shared by
// every Secret Service call of the process and made with a deadline: GIO's
// shared connection (g_bus_get_sync) waits forever on a bus that accepts and
// never answers, and its close would end the process.
#pragma once

#include "../loader/GioLibrary.h"

namespace quorvane {
namespace posix {

// Why there is no connection.
enum class BusAbsence {
  kNone,    // no GIO, no address (or an autolaunch one, which would start a
            // bus), or a bus that refused the connection at once
  kSilent,  // a bus that did not answer within the deadline, now or in the
            // last kBusRetryMs: worth trying again later
};

// The shared connection to the bus DBUS_SESSION_BUS_ADDRESS names, with a
// reference for the caller to drop; or null and `absence` set. A connection
// made before a fork, or to another address, or closed, is replaced.
GDBusConnection *SessionBus(BusAbsence &absence);

// Remembers the current address as silent for kBusRetryMs (a bus whose calls
// time out), as a connection that timed out is.
void ForgetSessionBusForAWhile();

constexpr int kBusConnectTimeoutMs = 1500;
constexpr int kBusRetryMs = 10000;

}  // namespace posix
}  // namespace quorvane
