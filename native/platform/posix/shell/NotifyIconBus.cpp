// The session bus side of the notification-area icon: each icon is a
// StatusNotifierItem object on our own connection, registered with the
// org.kde.StatusNotifierWatcher when one runs, and balloons are
// org.freedesktop.Notifications notifications.
//
// A library must not use the host's default main context, so the bus is
// served by a thread of ours running a private GMainContext: the objects are
// registered there and their property reads are answered there. Everything
// that touches the connection's objects runs on that thread and never
// blocks, so callers, who wait for it at most kLoopWait, hardly wait.
//
// The connection is made asynchronously with a deadline. A failed attempt,
// or a bus that goes away, is tried again after 1 s, 2 s, 4 s ... up to a
// minute, by the next call or, while icons exist, by a timer: a bus that
// starts later, or again, gets the icons. Only a balloon waits for a
// connection, and only for the first attempt on an address. The thread
// starts only when a session bus address exists and stops when the library
// is unloaded or the process exits (the loop is quit and joined, then a
// connect in progress cancelled).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "../loader/GioLibrary.h"
#include "../loader/GioSockets.h"
#include "NotifyIcon.h"

namespace quorvane {
namespace posix {
namespace notify {
namespace {

constexpr int kCallTimeoutMs = 1000;
// How long a balloon sent without waiting may take to be answered: a slow
// server that answers at all is waited for again.
constexpr int kUnwaitedCallTimeoutMs = 60000;
constexpr guint kConnectTimeoutMs = 1000;
constexpr gint64 kFirstRetryUs = G_USEC_PER_SEC, kLastRetryUs = 60 * G_USEC_PER_SEC;
constexpr auto kLoopWait = std::chrono::milliseconds(2000);
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kWatcher = "org.kde.StatusNotifierWatcher";

constexpr const char* kItemXml =
    "<node><interface name='org.kde.StatusNotifierItem'>"
    "<property name='Category' type='s' access='read'/>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Title' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='WindowId' type='i' access='read'/>"
    "<property name='IconName' type='s' access='read'/>"
    "<property name='IconPixmap' type='a(iiay)' access='read'/>"
    "<property name='OverlayIconName' type='s' access='read'/>"
    "<property name='AttentionIconName' type='s' access='read'/>"
    "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "<property name='ItemIsMenu' type='b' access='read'/>"
    "<method name='ContextMenu'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>"
    "<method name='Activate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>"
    "<method name='SecondaryActivate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>"
    "<method name='Scroll'><arg type='i' direction='in'/><arg type='s' direction='in'/></method>"
    "<signal name='NewTitle'/><signal name='NewIcon'/><signal name='NewToolTip'/>"
    "<signal name='NewStatus'><arg type='s'/></signal>"
    "</interface></node>";

// No bus to use: none named, one that would have to be started for us, or
// no GIO to speak to it with.
bool IsHeadless(const std::string& address) {
  return address.empty() || address.compare(0, 11, "autolaunch:") == 0 || GioLibrary::Get() == nullptr;
}

std::string SessionAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address ? address : std::string();
}

// D-Bus strings must be UTF-8; file-system escapes in our texts are not.
GVariant* Utf8(const std::string& text) {
  gchar* valid = Gio().utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  GVariant* value = Gio().variant_new_string(valid);
  Gio().free(valid);
  return value;
}

GDBusInterfaceInfo* ItemInfo() {
  static GDBusInterfaceInfo* info = [] {
    GDBusNodeInfo* node = Gio().dbus_node_info_new_for_xml(kItemXml, nullptr);
    GDBusInterfaceInfo* interface = Gio().dbus_interface_info_ref(node->interfaces[0]);
    Gio().dbus_node_info_unref(node);
    return interface;  // kept for the life of the process
  }();
  return info;
}

// The data of one exported item; owned by its registration.
struct Item {
  IconView view;
};

GVariant* ItemProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                       gpointer data) {
  const IconView& view = static_cast<Item*>(data)->view;
  const std::string property = name;
  const std::string icon = view.iconName.empty() ? "application-x-executable" : view.iconName;
  if (property == "Category") return Gio().variant_new_string("ApplicationStatus");
  if (property == "Id")
    return Utf8("quorvane-" + std::to_string(::getpid()) + "-" + std::to_string(view.key.first) + "-" +
                std::to_string(view.key.second));
  if (property == "Title") return Utf8(view.tip);
  if (property == "Status") return Gio().variant_new_string(view.hidden ? "Passive" : "Active");
  if (property == "WindowId") return Gio().variant_new_int32(0);
  if (property == "IconName") return Utf8(icon);
  if (property == "IconPixmap") return Gio().variant_new_array(VariantType("(iiay)"), nullptr, 0);
  if (property == "OverlayIconName" || property == "AttentionIconName") return Gio().variant_new_string("");
  if (property == "ToolTip")
    return Gio().variant_new("(@s@a(iiay)@ss)", Utf8(icon), Gio().variant_new_array(VariantType("(iiay)"), nullptr, 0),
                             Utf8(view.tip), Gio().variant_new_string(""));
  if (property == "ItemIsMenu") return Gio().variant_new_boolean(FALSE);
  return nullptr;
}

// Clicks reach no window of ours on Linux; they are answered and dropped.
void ItemMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                GDBusMethodInvocation* invocation, gpointer) {
  Gio().dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kItemVTable = {ItemMethod, ItemProperty, nullptr, {}};

// Every icon shown, exported or not: id 0 while there is no connection.
struct Entry {
  IconView view;
  guint id = 0;
  std::string path;
  Item* item = nullptr;  // owned by the registration
};

// What a balloon's caller is handed: the connection, or null.
using Waiter = std::function<void(GDBusConnection*)>;

class BusThread {
 public:
  static BusThread& Instance() {
    static BusThread bus;  // its destructor stops the thread at unload or exit
    return bus;
  }

  BusThread() : context_(Gio().main_context_new()), loop_(Gio().main_loop_new(context_, FALSE)) {
    InitSocketsKeepingSigpipe();
    thread_ = std::thread([this] {
      Gio().main_context_push_thread_default(context_);
      Gio().main_loop_run(loop_);
      Gio().main_context_pop_thread_default(context_);
    });
  }

  ~BusThread() {
    Gio().main_loop_quit(loop_);
    if (thread_.joinable()) thread_.join();
    if (connecting_) Gio().cancellable_cancel(connecting_);
    Disconnect();
    ClearObject(&connecting_);
    Gio().main_loop_unref(loop_);
    Gio().main_context_unref(context_);
  }
  BusThread(const BusThread&) = delete;
  BusThread& operator=(const BusThread&) = delete;

  // Runs `task` on the bus thread; false when it did not finish in time (it
  // may still run later, so it holds nothing of the caller's by reference).
  bool Run(std::function<void()> task) {
    struct Pending {
      std::function<void()> task;
      std::mutex mutex;
      std::condition_variable done;
      bool finished = false;
    };
    auto pending = std::make_shared<Pending>();
    pending->task = std::move(task);
    Gio().main_context_invoke_full(
        context_, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          auto& p = *static_cast<std::shared_ptr<Pending>*>(data);
          p->task();
          std::lock_guard<std::mutex> lock(p->mutex);
          p->finished = true;
          p->done.notify_all();
          return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Pending>(pending),
        [](gpointer data) { delete static_cast<std::shared_ptr<Pending>*>(data); });
    std::unique_lock<std::mutex> lock(pending->mutex);
    return pending->done.wait_for(lock, kLoopWait, [&] { return pending->finished; });
  }

  // Bus thread only, as every method below. Hands `waiter` the connection to
  // `address`: at once when there is one or an earlier attempt has ended,
  // else when the first attempt ends.
  void WhenConnected(const std::string& address, Waiter waiter) {
    Want(address);
    if (connecting_ && !tried_) waiters_.push_back(std::move(waiter));
    else waiter(connection_);
  }

  void Show(const std::string& address, const IconView& view) {
    Want(address);
    Entry& entry = items_[view.key];
    entry.view = view;
    if (connection_ == nullptr) return;
    if (entry.id == 0) return Export(entry);
    entry.item->view = view;
    for (const char* signal : {"NewTitle", "NewIcon", "NewToolTip"}) Emit(entry.path, signal, nullptr);
    Emit(entry.path, "NewStatus", Gio().variant_new("(s)", view.hidden ? "Passive" : "Active"));
  }

  void Remove(const std::string& address, const IconKey& key) {
    Want(address);
    auto it = items_.find(key);
    if (it == items_.end()) return;
    if (it->second.id != 0) Gio().dbus_connection_unregister_object(connection_, it->second.id);
    items_.erase(it);
  }

 private:
  // Starts a connection to `address` unless there is one, one is being made,
  // or the last failure's retry time has not come; another address starts
  // afresh.
  void Want(const std::string& address) {
    if (address != address_) {
      Disconnect();
      if (connecting_) Gio().cancellable_cancel(connecting_);
      ClearObject(&connecting_);
      Answer(nullptr);
      address_ = address;
      tried_ = false;
      retryUs_ = kFirstRetryUs;
      retryAt_ = 0;
    }
    if (connection_ != nullptr && Gio().dbus_connection_is_closed(connection_)) {  // its "closed" not yet seen
      Disconnect();
      Failed();
    }
    if (connection_ == nullptr && connecting_ == nullptr && !IsHeadless(address_) &&
        Gio().get_monotonic_time() >= retryAt_)
      Connect();
  }

  void Connect() {
    connecting_ = Gio().cancellable_new();
    struct Attempt {
      BusThread* bus;
      GCancellable* cancel;  // identifies the attempt; ours while it is connecting_
    };
    Gio().dbus_connection_new_for_address(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, connecting_,
        [](GObject*, GAsyncResult* result, gpointer data) {
          auto* attempt = static_cast<Attempt*>(data);
          GDBusConnection* connection = Gio().dbus_connection_new_for_address_finish(result, nullptr);
          // A late answer (past the deadline or for another address) is dropped.
          if (attempt->cancel == attempt->bus->connecting_) attempt->bus->Connected(connection);
          else if (connection) Gio().object_unref(connection);
          Gio().object_unref(attempt->cancel);
          delete attempt;
        },
        new Attempt{this, static_cast<GCancellable*>(Gio().object_ref(connecting_))});
    // Hello is not cancellable: the deadline gives up on the attempt itself.
    GSource* deadline = Gio().timeout_source_new(kConnectTimeoutMs);
    Gio().source_set_callback(
        deadline,
        [](gpointer data) -> gboolean {
          auto* attempt = static_cast<Attempt*>(data);
          if (attempt->cancel == attempt->bus->connecting_) {
            Gio().cancellable_cancel(attempt->cancel);
            attempt->bus->Connected(nullptr);
          }
          return G_SOURCE_REMOVE;
        },
        new Attempt{this, static_cast<GCancellable*>(Gio().object_ref(connecting_))},
        [](gpointer data) {
          auto* attempt = static_cast<Attempt*>(data);
          Gio().object_unref(attempt->cancel);
          delete attempt;
        });
    Gio().source_attach(deadline, context_);
    Gio().source_unref(deadline);
  }

  // The attempt in progress ended with `connection`, or with null.
  void Connected(GDBusConnection* connection) {
    ClearObject(&connecting_);
    tried_ = true;
    if (connection == nullptr) return Failed();
    connection_ = connection;
    retryUs_ = kFirstRetryUs;
    Gio().dbus_connection_set_exit_on_close(connection_, FALSE);
    const auto closed = +[](GDBusConnection*, gboolean, GError*, gpointer self) {
      auto* bus = static_cast<BusThread*>(self);
      bus->Disconnect();
      bus->Failed();
    };
    closedHandler_ =
        Gio().signal_connect_data(connection_, "closed", G_CALLBACK(closed), this, nullptr, GConnectFlags{});
    // A watcher that starts later learns of our items then.
    watcherSubscription_ = Gio().dbus_connection_signal_subscribe(
        connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
        kWatcher, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer self) {
          auto* bus = static_cast<BusThread*>(self);
          for (const auto& entry : bus->items_)
            if (entry.second.id != 0) bus->RegisterWithWatcher(entry.second.path);
        },
        this, nullptr);
    for (auto& entry : items_) Export(entry.second);
    Answer(connection_);
  }

  // No connection: the next try waits twice as long as the last, and a
  // timer makes it while icons wait to be shown.
  void Failed() {
    Answer(nullptr);
    retryAt_ = Gio().get_monotonic_time() + retryUs_;
    const guint delayMs = static_cast<guint>(retryUs_ / 1000);
    retryUs_ = std::min(retryUs_ * 2, kLastRetryUs);
    if (items_.empty()) return;
    GSource* timer = Gio().timeout_source_new(delayMs);
    Gio().source_set_callback(
        timer,
        [](gpointer self) -> gboolean {
          auto* bus = static_cast<BusThread*>(self);
          bus->retryAt_ = 0;  // the timer may run a little before retryAt_
          if (!bus->items_.empty()) bus->Want(bus->address_);
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    Gio().source_attach(timer, context_);
    Gio().source_unref(timer);
  }

  void Answer(GDBusConnection* connection) {
    for (const Waiter& waiter : std::exchange(waiters_, {})) waiter(connection);
  }

  void Export(Entry& entry) {
    auto* item = new Item{entry.view};
    const std::string path = "/StatusNotifierItem/" + std::to_string(++serial_);
    const guint id = Gio().dbus_connection_register_object(
        connection_, path.c_str(), ItemInfo(), &kItemVTable, item,
        [](gpointer data) { delete static_cast<Item*>(data); }, nullptr);
    if (id == 0) return;
    entry.id = id;
    entry.path = path;
    entry.item = item;
    RegisterWithWatcher(path);
  }

  void RegisterWithWatcher(const std::string& path) {
    // Asynchronous: the watcher reads our properties before it answers, and
    // this thread is the one that answers them.
    Gio().dbus_connection_call(connection_, kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisterStatusNotifierItem",
                               Gio().variant_new("(s)", path.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                               kCallTimeoutMs, nullptr, nullptr, nullptr);
  }

  void Emit(const std::string& path, const char* signal, GVariant* parameters) {
    Gio().dbus_connection_emit_signal(connection_, nullptr, path.c_str(), kItemInterface, signal, parameters, nullptr);
  }

  // Drops the connection; the icons stay, to be exported on the next one.
  void Disconnect() {
    if (connection_ == nullptr) return;
    for (auto& entry : items_) {
      if (entry.second.id != 0) Gio().dbus_connection_unregister_object(connection_, entry.second.id);
      entry.second.id = 0;
      entry.second.item = nullptr;
    }
    Gio().signal_handler_disconnect(connection_, closedHandler_);
    Gio().dbus_connection_signal_unsubscribe(connection_, watcherSubscription_);
    ClearObject(&connection_);
  }

  GMainContext* context_;
  GMainLoop* loop_;
  std::thread thread_;
  // Bus thread only (and the destructor, once the thread has stopped).
  std::string address_;
  GDBusConnection* connection_ = nullptr;
  GCancellable* connecting_ = nullptr;  // the attempt in progress
  bool tried_ = false;                  // an attempt on address_ has ended
  gint64 retryAt_ = 0, retryUs_ = kFirstRetryUs;
  std::vector<Waiter> waiters_;
  gulong closedHandler_ = 0;
  guint watcherSubscription_ = 0;
  std::map<IconKey, Entry> items_;
  unsigned serial_ = 0;
};

// A notification server that let a balloon's call time out is not waited
// for again on that connection: later balloons go out without waiting (id
// 0), and the first of them it answers makes the next wait for its answer.
class UnansweredServer {
 public:
  static UnansweredServer& Instance() {
    static auto* server = new UnansweredServer();  // never destroyed: answers may come until exit
    return *server;
  }
  bool On(GDBusConnection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection_ == connection;
  }
  // Held by reference, so another connection never has its address.
  void Failed(GDBusConnection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ == connection) return;
    ClearObject(&connection_);
    connection_ = static_cast<GDBusConnection*>(Gio().object_ref(connection));
  }
  void Answered(GDBusConnection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ == connection) ClearObject(&connection_);
  }

 private:
  std::mutex mutex_;
  GDBusConnection* connection_ = nullptr;
};

bool TimedOut(GError* error) { return Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_TIMED_OUT); }

// Sends Notify without waiting; its answer comes to the bus thread's context
// (never the host's default one), and any answer but a timeout clears the mark.
void NotifyUnwaited(GDBusConnection* connection, GVariant* parameters) {
  Gio().object_ref(connection);
  Gio().variant_ref_sink(parameters);
  // A task that does not run in time runs later, and lets go of both then.
  BusThread::Instance().Run([connection, parameters] {
    Gio().dbus_connection_call(
        connection, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "Notify", parameters, VariantType("(u)"), G_DBUS_CALL_FLAGS_NONE,
        kUnwaitedCallTimeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer) {
          auto* answered = reinterpret_cast<GDBusConnection*>(source);
          GError* error = nullptr;
          GVariant* reply = Gio().dbus_connection_call_finish(answered, result, &error);
          if (reply != nullptr) Gio().variant_unref(reply);
          if (!TimedOut(error)) UnansweredServer::Instance().Answered(answered);
          if (error != nullptr) Gio().error_free(error);
        },
        nullptr);
    Gio().variant_unref(parameters);
    Gio().object_unref(connection);
  });
}

// The connection for a call from any thread (a new reference), or null.
GDBusConnection* SharedConnection() {
  const std::string address = SessionAddress();
  if (IsHeadless(address)) return nullptr;
  // Handed over under a lock: an answer that comes after the wait drops its
  // reference instead of leaking it.
  struct Handover {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false, taken = false;
    GDBusConnection* connection = nullptr;
    ~Handover() {
      if (connection) Gio().object_unref(connection);
    }
  };
  auto handover = std::make_shared<Handover>();
  BusThread& bus = BusThread::Instance();
  bus.Run([handover, address, &bus] {
    bus.WhenConnected(address, [handover](GDBusConnection* connection) {
      std::lock_guard<std::mutex> lock(handover->mutex);
      if (connection && !handover->taken)
        handover->connection = static_cast<GDBusConnection*>(Gio().object_ref(connection));
      handover->done = true;
      handover->answered.notify_all();
    });
  });
  std::unique_lock<std::mutex> lock(handover->mutex);
  handover->answered.wait_for(lock, std::chrono::milliseconds(kConnectTimeoutMs) + kLoopWait,
                              [&] { return handover->done; });
  handover->taken = true;
  return std::exchange(handover->connection, nullptr);
}

}  // namespace

void SessionBus::Show(const IconView& icon) {
  const std::string address = SessionAddress();
  if (IsHeadless(address)) return;
  BusThread& bus = BusThread::Instance();
  bus.Run([&bus, address, icon] { bus.Show(address, icon); });
}

void SessionBus::Remove(const IconKey& key) {
  const std::string address = SessionAddress();
  if (IsHeadless(address)) return;
  BusThread& bus = BusThread::Instance();
  bus.Run([&bus, address, key] { bus.Remove(address, key); });
}

uint32_t SessionBus::Notify(const Balloon& balloon) {
  GDBusConnection* connection = SharedConnection();
  if (connection == nullptr) return 0;
  GVariantBuilder hints;
  Gio().variant_builder_init(&hints, VariantType("a{sv}"));
  Gio().variant_builder_add(&hints, "{sv}", "urgency", Gio().variant_new_byte(balloon.error ? 2 : 1));
  if (balloon.quiet) Gio().variant_builder_add(&hints, "{sv}", "suppress-sound", Gio().variant_new_boolean(TRUE));
  GVariant* parameters = Gio().variant_new("(@su@s@s@s@as@a{sv}i)", Gio().variant_new_string("quorvane"), 0u,
                                           Utf8(balloon.iconName), Utf8(balloon.title), Utf8(balloon.text),
                                           Gio().variant_new_strv(nullptr, 0), Gio().variant_builder_end(&hints), -1);
  UnansweredServer& unanswered = UnansweredServer::Instance();
  if (unanswered.On(connection)) {
    NotifyUnwaited(connection, parameters);
    Gio().object_unref(connection);
    return 0;
  }
  GError* error = nullptr;
  GVariant* reply = Gio().dbus_connection_call_sync(
      connection, "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
      "Notify", parameters, VariantType("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
  uint32_t id = 0;
  if (reply != nullptr) {
    Gio().variant_get(reply, "(u)", &id);
    Gio().variant_unref(reply);
  }
  if (TimedOut(error)) unanswered.Failed(connection);
  if (error != nullptr) Gio().error_free(error);
  Gio().object_unref(connection);
  return id;
}

void SessionBus::Close(uint32_t notificationId) {
  GDBusConnection* connection = SharedConnection();
  if (connection == nullptr) return;
  Gio().dbus_connection_call(connection, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                             "org.freedesktop.Notifications", "CloseNotification",
                             Gio().variant_new("(u)", notificationId), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                             kCallTimeoutMs, nullptr, nullptr, nullptr);
  Gio().object_unref(connection);
}

}  // namespace notify
}  // namespace posix
}  // namespace quorvane
