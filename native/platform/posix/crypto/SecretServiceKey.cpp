// The master key in the Secret Service. libsecret's service proxy lives on
// GIO's shared session bus connection (given one of ours, its set-up trips a
// GLib assertion that aborts the process), whose exit-on-close we turn off:
// a bus that goes away must not end the JVM. Our own thread-default main
// context is pushed for the call, then drained and dropped. Our D-Bus calls
// have a short timeout and never start a service; libsecret's path API is
// used so that nothing is unlocked, and so nothing prompts: a locked
// collection counts as no store.
#define SECRET_API_SUBJECT_TO_CHANGE 1
#include "SecretServiceKey.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <libsecret/secret.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "../DynamicSymbols.h"
#include "../GioSockets.h"
#include "DpapiApi.h"

namespace quorvane {
namespace posix {
namespace {

constexpr int kCallTimeoutMs = 1500;
constexpr const char kBusName[] = "org.freedesktop.secrets";
constexpr const char kServicePath[] = "/org/freedesktop/secrets";
constexpr const char kSchemaName[] = "com.quorvane.MasterKey";
constexpr const char kPurpose[] = "data-protection";
constexpr const char kLabel[] = "Quorvane data protection key";
const DWORD kNoKey = static_cast<DWORD>(NTE_BAD_KEY_STATE);

// The few libsecret calls we make, bound once per process.
struct SecretLibrary {
  decltype(&secret_service_get_type) serviceType;
  decltype(&secret_service_open_sync) open;
  decltype(&secret_service_search_for_dbus_paths_sync) search;
  decltype(&secret_service_get_secret_for_dbus_path_sync) getSecret;
  decltype(&secret_service_read_alias_dbus_path_sync) readAlias;
  decltype(&secret_service_create_item_dbus_path_sync) createItem;
  decltype(&secret_value_new) valueNew;
  decltype(&secret_value_get) valueGet;
  decltype(&secret_value_unref) valueUnref;
};

const SecretLibrary* Library() {
  static const SecretLibrary* const library = []() -> const SecretLibrary* {
    static SecretLibrary table;
    // Never closed: libsecret registers GTypes, which cannot be unregistered.
    void* secret = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
    if (secret == nullptr) return nullptr;
    const bool ok = BindSymbol(secret, "secret_service_get_type", &table.serviceType) &&
                    BindSymbol(secret, "secret_service_open_sync", &table.open) &&
                    BindSymbol(secret, "secret_service_search_for_dbus_paths_sync", &table.search) &&
                    BindSymbol(secret, "secret_service_get_secret_for_dbus_path_sync", &table.getSecret) &&
                    BindSymbol(secret, "secret_service_read_alias_dbus_path_sync", &table.readAlias) &&
                    BindSymbol(secret, "secret_service_create_item_dbus_path_sync", &table.createItem) &&
                    BindSymbol(secret, "secret_value_new", &table.valueNew) &&
                    BindSymbol(secret, "secret_value_get", &table.valueGet) &&
                    BindSymbol(secret, "secret_value_unref", &table.valueUnref);
    return ok ? &table : nullptr;
  }();
  return library;
}

// A method call on the Secret Service's own name; null on any error.
GVariant* Call(GDBusConnection* connection, const char* path, const char* interface, const char* method,
               GVariant* arguments) {
  return g_dbus_connection_call_sync(connection, kBusName, path, interface, method, arguments, nullptr,
                                     G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, nullptr, nullptr);
}

std::string Hex(const BYTE* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += "0123456789abcdef"[bytes[i] >> 4];
    text += "0123456789abcdef"[bytes[i] & 15];
  }
  return text;
}

}  // namespace

struct SecretServiceKeys::Session {
  const SecretLibrary& library;
  GMainContext* context = g_main_context_new();
  GDBusConnection* connection = nullptr;  // the shared session bus
  SecretService* service = nullptr;
  std::string collection;  // the default collection's object path

  explicit Session(const SecretLibrary& lib) : library(lib) { g_main_context_push_thread_default(context); }
  ~Session() {
    if (service != nullptr) g_object_unref(service);
    if (connection != nullptr) g_object_unref(connection);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  // Connects; false when the default collection cannot be used without a person.
  bool Open() {
    InitSocketsKeepingSigpipe();
    connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (connection == nullptr) return false;
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    GVariant* pong = Call(connection, kServicePath, "org.freedesktop.DBus.Peer", "Ping", nullptr);
    if (pong == nullptr) return false;
    g_variant_unref(pong);
    service = library.open(library.serviceType(), kBusName, SECRET_SERVICE_OPEN_SESSION, nullptr, nullptr);
    if (service == nullptr) return false;
    g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service), kCallTimeoutMs);

    gchar* path = library.readAlias(service, "default", nullptr, nullptr);
    if (path != nullptr && std::strcmp(path, "/") != 0) collection = path;
    g_free(path);
    if (collection.empty()) return false;  // making one would prompt for its password
    GVariant* locked = Call(connection, collection.c_str(), "org.freedesktop.DBus.Properties", "Get",
                            g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"));
    if (locked == nullptr) return false;
    GVariant* value = nullptr;
    g_variant_get(locked, "(v)", &value);
    const bool open = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && !g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(locked);
    return open;
  }
};

SecretServiceKeys::SecretServiceKeys() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  // No address, or one that would start a bus for us: headless.
  if (address == nullptr || address[0] == 0 || std::strncmp(address, "autolaunch:", 11) == 0) return;
  const SecretLibrary* library = Library();
  if (library == nullptr) return;
  auto session = std::make_unique<Session>(*library);
  if (session->Open()) session_ = std::move(session);
}

SecretServiceKeys::~SecretServiceKeys() = default;

bool SecretServiceKeys::Available() const { return session_ != nullptr; }

DWORD SecretServiceKeys::Find(const BYTE* keyId, MasterKey& out) {
  if (!session_) return kNoKey;
  const SecretLibrary& library = session_->library;
  GHashTable* attributes = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
  g_hash_table_insert(attributes, const_cast<char*>("xdg:schema"), g_strdup(kSchemaName));
  g_hash_table_insert(attributes, const_cast<char*>("purpose"), g_strdup(kPurpose));
  if (keyId != nullptr) g_hash_table_insert(attributes, const_cast<char*>("key-id"), g_strdup(Hex(keyId, kKeyIdSize).c_str()));
  gchar** unlocked = nullptr;
  gchar** locked = nullptr;
  const bool searched = library.search(session_->service, nullptr, attributes, nullptr, &unlocked, &locked, nullptr);
  g_hash_table_unref(attributes);
  DWORD result = searched ? ERROR_FILE_NOT_FOUND : kNoKey;
  for (size_t i = 0; searched && result != 0 && unlocked != nullptr && unlocked[i] != nullptr; ++i) {
    SecretValue* value = library.getSecret(session_->service, unlocked[i], nullptr, nullptr);
    if (value == nullptr) continue;
    gsize size = 0;
    const gchar* bytes = library.valueGet(value, &size);
    if (bytes != nullptr && size == kMasterKeySize) {
      std::memcpy(out.key, bytes, kMasterKeySize);
      result = 0;
    }
    library.valueUnref(value);  // libsecret keeps secrets in wiped memory
  }
  g_strfreev(unlocked);
  g_strfreev(locked);
  return result;
}

DWORD SecretServiceKeys::Store(const MasterKey& key) {
  if (!session_) return kNoKey;
  const SecretLibrary& library = session_->library;
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSchemaName);
  g_variant_builder_add(&attributes, "{ss}", "purpose", kPurpose);
  g_variant_builder_add(&attributes, "{ss}", "key-id", Hex(key.id, kKeyIdSize).c_str());
  GHashTable* properties =
      g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, reinterpret_cast<GDestroyNotify>(g_variant_unref));
  g_hash_table_insert(properties, const_cast<char*>("org.freedesktop.Secret.Item.Label"),
                      g_variant_ref_sink(g_variant_new_string(kLabel)));
  g_hash_table_insert(properties, const_cast<char*>("org.freedesktop.Secret.Item.Attributes"),
                      g_variant_ref_sink(g_variant_builder_end(&attributes)));
  SecretValue* value =
      library.valueNew(reinterpret_cast<const gchar*>(key.key), kMasterKeySize, "application/octet-stream");
  gchar* item = library.createItem(session_->service, session_->collection.c_str(), properties, value,
                                   SECRET_ITEM_CREATE_NONE, nullptr, nullptr);
  library.valueUnref(value);
  g_hash_table_unref(properties);
  const DWORD result = item != nullptr ? 0 : kNoKey;
  g_free(item);
  return result;
}

}  // namespace posix
}  // namespace quorvane
