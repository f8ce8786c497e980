// The connection is made by g_dbus_connection_new_for_address_sync on a
// thread of its own that the caller waits for at most the deadline. A
// connection still trying then is cancelled and left to end by itself (the
// D-Bus Hello is not cancellable, and times out later); whatever it makes
// is dropped by that thread.
#include "SessionBus.h"

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

// The address that failed last, and until when it is not tried again;
// never destroyed, as calls may come while the process exits.
struct Failed {
  std::mutex mutex;
  std::string address;
  std::chrono::steady_clock::time_point until;
};

Failed& TheFailed() {
  static Failed* const failed = new Failed();
  return *failed;
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

}  // namespace

void ForgetSessionBusForAWhile() {
  const std::string address = CurrentAddress();
  Failed& failed = TheFailed();
  std::lock_guard<std::mutex> lock(failed.mutex);
  failed.address = address;
  failed.until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusRetryMs);
}

GDBusConnection *OpenSessionBus() {
  const std::string address = CurrentAddress();
  if (address.empty() || GioLibrary::Get() == nullptr) return nullptr;
  {
    Failed& failed = TheFailed();
    std::lock_guard<std::mutex> lock(failed.mutex);
    if (address == failed.address && std::chrono::steady_clock::now() < failed.until) return nullptr;
  }
  InitSocketsKeepingSigpipe();
  auto attempt = std::make_shared<Attempt>();
  try {
    std::thread(Connect, address, attempt).detach();
  } catch (const std::system_error &) {
    return nullptr;
  }
  GDBusConnection *connection = nullptr;
  {
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (attempt->done.wait_for(lock, std::chrono::milliseconds(kBusConnectTimeoutMs),
                               [&] { return attempt->finished; })) {
      connection = attempt->connection;
    } else {
      attempt->abandoned = true;
      Gio().cancellable_cancel(attempt->cancel);
    }
  }
  if (connection == nullptr) ForgetSessionBusForAWhile();
  return connection;
}

}  // namespace posix
}  // namespace quorvane
