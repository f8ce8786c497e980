// The connection is made by g_dbus_connection_new_for_address_sync on a
// thread of its own that the caller waits for at most the deadline. A
// connection still trying then is cancelled and left to end by itself (the
// D-Bus Hello is not cancellable, and times out later); whatever it makes
// is dropped by that thread. One attempt runs at a time: callers meanwhile
// wait for its outcome rather than make their own.
#include "SessionBus.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "../loader/GioSockets.h"

namespace quorvane {
namespace posix {
namespace {

struct Attempt {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool abandoned = false;
  GDBusConnection *connection = nullptr;
  GCancellable *cancel = Gio().cancellable_new();
  ~Attempt() { Gio().object_unref(cancel); }
};

// The process's connection and the address that failed last; never
// destroyed, as calls may come while the process exits.
struct Shared {
  std::mutex mutex;  // held while connecting
  GDBusConnection *connection = nullptr;
  std::string address;  // the connection's
  pid_t pid = 0;        // the process that made it
  std::string failedAddress;
  bool failedSilent = false;
  std::chrono::steady_clock::time_point failedUntil;
};

Shared &TheShared() {
  static Shared *const shared = new Shared();
  return *shared;
}

std::string CurrentAddress() {
  const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || address[0] == 0 || std::strncmp(address, "autolaunch:", 11) == 0) return {};
  return address;
}

void Connect(const std::string &address, const std::shared_ptr<Attempt> &attempt) {
  // The connection's own signals go to a context nobody runs, never the host's
  // default one.
  GMainContext *context = Gio().main_context_new();
  Gio().main_context_push_thread_default(context);
  GDBusConnection *connection = Gio().dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, attempt->cancel, nullptr);
  Gio().main_context_pop_thread_default(context);
  Gio().main_context_unref(context);
  std::lock_guard<std::mutex> lock(attempt->mutex);
  if (attempt->abandoned) {
    if (connection != nullptr) Gio().object_unref(connection);
  } else {
    attempt->connection = connection;
  }
  attempt->finished = true;
  attempt->done.notify_all();
}

// A new connection to `address`, or null with `timedOut` set when it did not
// come within the deadline.
GDBusConnection *ConnectWithDeadline(const std::string &address, bool &timedOut) {
  timedOut = false;
  InitSocketsKeepingSigpipe();
  auto attempt = std::make_shared<Attempt>();
  try {
    std::thread(Connect, address, attempt).detach();
  } catch (const std::system_error &) {
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(attempt->mutex);
  if (attempt->done.wait_for(lock, std::chrono::milliseconds(kBusConnectTimeoutMs),
                             [&] { return attempt->finished; }))
    return attempt->connection;
  attempt->abandoned = true;
  Gio().cancellable_cancel(attempt->cancel);
  timedOut = true;
  return nullptr;
}

void RememberFailure(Shared &shared, const std::string &address, bool silent) {
  shared.failedAddress = address;
  shared.failedSilent = silent;
  shared.failedUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusRetryMs);
}

}  // namespace

void ForgetSessionBusForAWhile() {
  Shared &shared = TheShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  RememberFailure(shared, CurrentAddress(), true);
}

GDBusConnection *SessionBus(BusAbsence &absence) {
  absence = BusAbsence::kNone;
  const std::string address = CurrentAddress();
  if (address.empty() || GioLibrary::Get() == nullptr) return nullptr;
  Shared &shared = TheShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (address == shared.failedAddress && std::chrono::steady_clock::now() < shared.failedUntil) {
    absence = shared.failedSilent ? BusAbsence::kSilent : BusAbsence::kNone;
    return nullptr;
  }
  if (shared.connection != nullptr) {
    // A connection inherited over fork has no worker thread here: it is left
    // alone, never used or closed.
    if (shared.pid != ::getpid()) {
      shared.connection = nullptr;
    } else if (shared.address != address || Gio().dbus_connection_is_closed(shared.connection)) {
      ClearObject(&shared.connection);
    }
  }
  if (shared.connection == nullptr) {
    bool timedOut = false;
    shared.connection = ConnectWithDeadline(address, timedOut);
    if (shared.connection == nullptr) {
      RememberFailure(shared, address, timedOut);
      absence = timedOut ? BusAbsence::kSilent : BusAbsence::kNone;
      return nullptr;
    }
    shared.address = address;
    shared.pid = ::getpid();
  }
  return static_cast<GDBusConnection *>(Gio().object_ref(shared.connection));
}

}  // namespace posix
}  // namespace quorvane
