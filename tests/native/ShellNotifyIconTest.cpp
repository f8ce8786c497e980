// Notification-area icons: answers without a desktop or on a silent bus, never waiting on it twice; on a private
// bus, also one that starts late or again, the item and balloon a desktop sees.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ProtectTestSupport.h"
#include "Win32Api.h"

namespace {

using Clock = std::chrono::steady_clock;

using BusAddress = settings_test::ScopedVariable;
constexpr char kBus[] = "DBUS_SESSION_BUS_ADDRESS";

NOTIFYICONDATAW Icon(UINT id, UINT flags, const wchar_t* tip = L"", const wchar_t* info = L"") {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = reinterpret_cast<HWND>(0x1234);
  data.uID = id;
  data.uFlags = flags;
  data.uVersion = NOTIFYICON_VERSION_4;
  wcsncpy(data.szTip, tip, 127);
  wcsncpy(data.szInfo, info, 255);
  wcsncpy(data.szInfoTitle, L"Title", 63);
  data.dwInfoFlags = NIIF_WARNING;
  return data;
}

// The shell's answers for a sequence of calls on two icons.
const struct {
  DWORD message;
  UINT id;
  BOOL answer;
} kSteps[] = {
    {NIM_MODIFY, 1, FALSE},    {NIM_DELETE, 1, FALSE},    {NIM_SETFOCUS, 1, FALSE}, {NIM_SETVERSION, 1, FALSE},
    {NIM_ADD, 1, TRUE},        {NIM_ADD, 1, FALSE},       {NIM_ADD, 2, TRUE},       {NIM_MODIFY, 1, TRUE},
    {NIM_SETFOCUS, 1, TRUE},   {NIM_SETVERSION, 1, TRUE}, {NIM_DELETE, 1, TRUE},    {NIM_DELETE, 1, FALSE},
    {NIM_MODIFY, 2, TRUE},     {NIM_DELETE, 2, TRUE},     {7, 2, FALSE},
};

// A private session bus with a fake desktop: a notification server and a StatusNotifierWatcher that record calls.
class FakeDesktop {
 public:
  // On `listen` (a D-Bus address) when given; with `hung`, the notification server takes calls and never answers
  // until Answer().
  explicit FakeDesktop(const std::string& listen = "", bool hung = false) : bus_(false, listen), hung_(hung) {
    if (!bus_.Ready()) return;
    thread_ = std::thread([this] { Serve(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return ready_; });
  }
  ~FakeDesktop() {
    Answer();
    g_main_loop_quit(loop_);
    if (thread_.joinable()) thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  bool Ready() const { return ready_ && connection_; }
  // The calls held are answered, and later ones at once.
  void Answer() {
    std::vector<GDBusMethodInvocation*> held;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hung_ = false;
      held.swap(held_);
    }
    for (GDBusMethodInvocation* invocation : held)
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", 42u));
  }
  const std::string& Address() const { return bus_.Address(); }

  // Waits (bounded) until `done` holds under the recorder's lock.
  template <class Predicate>
  bool WaitFor(Predicate done, std::chrono::seconds limit = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return done(); });
  }

  // A property of the registered item, read as a desktop would.
  std::string ItemProperty(const char* name) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::string sender = itemSender, path = itemPath;
    lock.unlock();
    g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
        connection_, sender.c_str(), path.c_str(), "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 2000,
        nullptr, nullptr);
    if (!reply) return "(none)";
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    return g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? g_variant_get_string(value, nullptr) : "?";
  }

  // Recorded under the lock.
  std::string itemSender, itemPath, summary, body, appIcon;
  int notifications = 0;
  std::vector<uint32_t> closed;  // CloseNotification's ids

 private:
  template <class Change>
  void Record(Change change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  void Serve() {
    g_main_context_push_thread_default(context_);
    connection_ = g_dbus_connection_new_for_address_sync(
        Address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {Call, nullptr, nullptr, {}};
    if (connection_) {
      g_dbus_connection_register_object(connection_, "/org/freedesktop/Notifications", node->interfaces[0], &vtable,
                                        this, nullptr, nullptr);
      g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher", node->interfaces[1], &vtable, this,
                                        nullptr, nullptr);
      for (const char* name : {"org.freedesktop.Notifications", "org.kde.StatusNotifierWatcher"}) {
        g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", name, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
      }
    }
    Record([this] { ready_ = true; });
    if (connection_) g_main_loop_run(loop_);
    if (connection_) g_object_unref(connection_);
    g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(context_);
  }

  static void Call(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                   GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeDesktop*>(data);
    const std::string name = method;
    bool hold = false;
    self->Record([&] {
      const gchar *icon, *summary, *body, *path;
      if (name == "Notify") {
        g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", nullptr, nullptr, &icon, &summary, &body, nullptr, nullptr, nullptr);
        self->appIcon = icon, self->summary = summary, self->body = body;
        ++self->notifications;
        if (self->hung_) self->held_.push_back(invocation);
        hold = self->hung_;
      } else if (name == "CloseNotification") {
        uint32_t id = 0;
        g_variant_get(parameters, "(u)", &id);
        self->closed.push_back(id);
      } else if (name == "RegisterStatusNotifierItem") {
        g_variant_get(parameters, "(&s)", &path);
        self->itemSender = sender, self->itemPath = path;
      }
    });
    if (hold) return;
    g_dbus_method_invocation_return_value(invocation, name == "Notify" ? g_variant_new("(u)", 42u) : nullptr);
  }

  static constexpr const char* kXml =
      "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"  // arguments are "in" by default
      "<arg type='s'/><arg type='u'/><arg type='s'/><arg type='s'/><arg type='s'/><arg type='as'/><arg type='a{sv}'/>"
      "<arg type='i'/><arg type='u' direction='out'/></method>"
      "<method name='CloseNotification'><arg type='u'/></method></interface>"
      "<interface name='org.kde.StatusNotifierWatcher'>"
      "<method name='RegisterStatusNotifierItem'><arg type='s'/></method></interface></node>";

  protect_test::PrivateBus bus_;
  std::thread thread_;
  GMainContext* context_ = g_main_context_new();
  GMainLoop* loop_ = g_main_loop_new(context_, FALSE);
  GDBusConnection* connection_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;
  bool hung_;
  std::vector<GDBusMethodInvocation*> held_;
};

TEST(ShellNotifyIcon, AnswersWithoutADesktopOrOnASilentBusAndShowsOnASessionBusThatComesLateOrAgain) {
  // A bus that answers, with a notification server that does not (made first: the test's own GIO ignores SIGPIPE).
  FakeDesktop hung("", true);
  // The host's SIGPIPE handler (the JVM checks its own) survives our sockets.
  struct sigaction host {}, after {};
  host.sa_handler = [](int) {};
  sigaction(SIGPIPE, &host, nullptr);
  settings_test::SilentServer silent;
  const std::string silentAddress = silent.Address();
  const std::string hungAddress = hung.Ready() ? hung.Address() : silentAddress;
  for (const char* address : {static_cast<const char*>(nullptr), "autolaunch:", "unix:path=/nonexistent/qv-bus",
                              silentAddress.c_str(), hungAddress.c_str()}) {
    SCOPED_TRACE(address ? address : "(unset)");
    BusAddress bus(kBus, address ? std::optional<std::string>(address) : std::nullopt);
    const auto start = Clock::now();
    for (const auto& step : kSteps) {
      NOTIFYICONDATAW data = Icon(step.id, NIF_TIP | NIF_INFO, L"tip", L"balloon text");
      EXPECT_EQ(Shell_NotifyIconW(step.message, &data), step.answer) << "message " << step.message << " icon " << step.id;
    }
    EXPECT_FALSE(Shell_NotifyIconW(NIM_ADD, nullptr));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    // A bus that failed once is not waited for again (one wait is 1 s).
    NOTIFYICONDATAW data = Icon(3, NIF_TIP | NIF_INFO, L"tip", L"balloon text");
    EXPECT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    const auto again = Clock::now();
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
    EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(500)) << "ten calls after the first failure";
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  }
  // Once the notification server answers again, a balloon waits for its answer: its id is kept to take it down.
  if (hung.Ready()) {
    BusAddress bus(kBus, hungAddress);
    hung.Answer();
    NOTIFYICONDATAW data = Icon(4, NIF_INFO, L"", L"balloon text");
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
    NOTIFYICONDATAW down = Icon(4, NIF_INFO);
    bool takenDown = false;
    for (int i = 0; i < 20 && !takenDown; ++i) {
      ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
      ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &down));
      takenDown = hung.WaitFor([&] { return !hung.closed.empty(); }, std::chrono::seconds(1));
    }
    EXPECT_TRUE(takenDown) << "no balloon was waited for after the server answered";
    EXPECT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  }
  sigaction(SIGPIPE, nullptr, &after);
  EXPECT_EQ(after.sa_handler, host.sa_handler);
  signal(SIGPIPE, SIG_DFL);
  // A private session bus that starts after the first call: the icon is an item and the balloon a notification.
  settings_test::TempFolder folder;
  const std::string late = "unix:path=" + folder.File("bus");
  BusAddress bus(kBus, late);
  NOTIFYICONDATAW data = Icon(9, NIF_TIP, L"Quarterly report");
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &data));
  auto desktop = std::make_unique<FakeDesktop>(late);
  if (!desktop->Ready()) GTEST_SKIP() << "no dbus-daemon";
  ASSERT_TRUE(desktop->WaitFor([&] { return !desktop->itemPath.empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(desktop->ItemProperty("Title") + "|" + desktop->ItemProperty("Status"), "Quarterly report|Active");

  data = Icon(9, NIF_TIP | NIF_INFO | NIF_STATE, L"Saved", L"Saved to the server");
  data.dwState = data.dwStateMask = NIS_HIDDEN;
  const auto start = Clock::now();
  ASSERT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &data));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  ASSERT_TRUE(desktop->WaitFor([&] { return desktop->notifications == 1; }));
  EXPECT_EQ(desktop->summary + "|" + desktop->body + "|" + desktop->appIcon, "Title|Saved to the server|dialog-warning");
  EXPECT_EQ(desktop->ItemProperty("Title") + "|" + desktop->ItemProperty("Status"), "Saved|Passive");

  // The bus goes and comes again: the icon is shown there without another call.
  desktop.reset();
  unlink(folder.File("bus").c_str());  // if the daemon left its socket behind
  desktop = std::make_unique<FakeDesktop>(late);
  ASSERT_TRUE(desktop->Ready());
  ASSERT_TRUE(desktop->WaitFor([&] { return !desktop->itemPath.empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(desktop->ItemProperty("Title"), "Saved");
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  EXPECT_EQ(desktop->ItemProperty("Title"), "(none)");
}

}  // namespace
