// A private connection to the session bus for the key store, made with a
// deadline: GIO's shared connection (g_bus_get_sync) waits forever on a bus
// that accepts and never answers, and its close would end the process.
#pragma once

#include "../loader/GioLibrary.h"

namespace quorvane {
namespace posix {

// The session bus named by DBUS_SESSION_BUS_ADDRESS, or null: no GIO, no address
// (or an autolaunch one, which would start a bus), no connection within
// kBusConnectTimeoutMs, or an address that failed so within the last
// kBusRetryMs (so each call does not wait again). The caller unrefs it.
GDBusConnection *OpenSessionBus();

// Remembers the current address as failed (a bus that connects but whose
// calls time out), as a failed connection is.
void ForgetSessionBusForAWhile();

constexpr int kBusConnectTimeoutMs = 1500;
constexpr int kBusRetryMs = 10000;

}  // namespace posix
}  // namespace quorvane
