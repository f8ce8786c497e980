// The master key in the Secret Service, through its D-Bus interface
// (org.freedesktop.Secret.*) on our own connection: libsecret can only use
// GIO's shared connection, which has no deadline. Every call here times out
// after kCallTimeoutMs; the first may start the service, as the desktop's
// own programs do. The secret travels in a "plain" session over the user's
// own bus socket; reply bytes that held the key are wiped before they are
// freed.
#include "SecretServiceKey.h"

#include <openssl/crypto.h>

#include <cstring>
#include <string>

#include "../loader/GioLibrary.h"
#include "DpapiApi.h"
#include "SessionBus.h"

namespace quorvane {
namespace posix {
namespace {

constexpr int kCallTimeoutMs = 1500;
constexpr const char kBusName[] = "org.freedesktop.secrets";
constexpr const char kServicePath[] = "/org/freedesktop/secrets";
constexpr const char kService[] = "org.freedesktop.Secret.Service";
constexpr const char kSchemaName[] = "com.quorvane.MasterKey";
constexpr const char kPurpose[] = "data-protection";
constexpr const char kLabel[] = "Quorvane data protection key";
const DWORD kNoKey = static_cast<DWORD>(NTE_BAD_KEY_STATE);

std::string Hex(const BYTE *bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += "0123456789abcdef"[bytes[i] >> 4];
    text += "0123456789abcdef"[bytes[i] & 15];
  }
  return text;
}

}  // namespace

struct SecretServiceKeys::Session {
  GDBusConnection *connection = nullptr;
  std::string session;     // our Secret Service session's object path
  std::string collection;  // the default collection's object path

  ~Session() {
    if (!session.empty()) {
      GVariant *closed = Call(session.c_str(), "org.freedesktop.Secret.Session", "Close", nullptr, nullptr);
      if (closed != nullptr) Gio().variant_unref(closed);
    }
    if (connection != nullptr) Gio().object_unref(connection);
  }

  // A method call on the Secret Service's own name; null on any error, and
  // with `timedOut` set when it went unanswered.
  GVariant *Call(const char *path, const char *interface, const char *method, GVariant *arguments,
                 const char *replyType, bool *timedOut = nullptr, KeyService *failure = nullptr) {
    GError *error = nullptr;
    GVariant *reply = Gio().dbus_connection_call_sync(connection, kBusName, path, interface, method, arguments,
                                                      replyType ? VariantType(replyType) : nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
    if (error != nullptr) {
      if (timedOut != nullptr) *timedOut = Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_TIMED_OUT);
      if (failure != nullptr) *failure = Classify(error);
      Gio().error_free(error);
    }
    return reply;
  }

  // What a failed first call says of the service.
  static KeyService Classify(const GError *error) {
    const GQuark dbus = Gio().dbus_error_quark();
    if (Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_TIMED_OUT) ||
        Gio().error_matches(error, Gio().io_error_quark(), G_IO_ERROR_CLOSED) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_NO_REPLY) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_TIMEOUT) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_TIMED_OUT) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_DISCONNECTED))
      return KeyService::kSilent;
    // A service there that does not know Ping is still there.
    if (Gio().error_matches(error, dbus, G_DBUS_ERROR_UNKNOWN_METHOD) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
        Gio().error_matches(error, dbus, G_DBUS_ERROR_UNKNOWN_OBJECT))
      return KeyService::kReady;
    return KeyService::kNone;  // no owner, nothing to start, or it failed to start
  }

  // The single object path of a "(o)" reply, or empty.
  std::string Path(GVariant *reply) {
    if (reply == nullptr) return {};
    const gchar *path = nullptr;
    Gio().variant_get(reply, "(&o)", &path);
    std::string out = std::strcmp(path, "/") == 0 ? "" : path;
    Gio().variant_unref(reply);
    return out;
  }

  KeyService Open() {
    BusAbsence absence = BusAbsence::kNone;
    connection = SessionBus(absence);
    if (connection == nullptr) return absence == BusAbsence::kSilent ? KeyService::kSilent : KeyService::kNone;
    bool timedOut = false;
    KeyService failure = KeyService::kNone;
    GVariant *pong = Call(kServicePath, "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, &timedOut, &failure);
    if (pong != nullptr) {
      Gio().variant_unref(pong);
    } else if (failure != KeyService::kReady) {
      if (timedOut) ForgetSessionBusForAWhile();  // the next calls would wait as long
      return failure;
    }
    // Making a default collection, or unlocking it, would prompt.
    collection = Path(Call(kServicePath, kService, "ReadAlias", Gio().variant_new("(s)", "default"), "(o)"));
    if (collection.empty()) return KeyService::kUnusable;
    GVariant *locked = Call(collection.c_str(), "org.freedesktop.DBus.Properties", "Get",
                            Gio().variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"), "(v)");
    if (locked == nullptr) return KeyService::kUnusable;
    GVariant *value = nullptr;
    Gio().variant_get(locked, "(v)", &value);
    const bool open = Gio().variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && !Gio().variant_get_boolean(value);
    Gio().variant_unref(value);
    Gio().variant_unref(locked);
    if (!open) return KeyService::kUnusable;
    GVariant *opened = Call(kServicePath, kService, "OpenSession",
                            Gio().variant_new("(sv)", "plain", Gio().variant_new_string("")), "(vo)");
    if (opened == nullptr) return KeyService::kUnusable;
    const gchar *path = nullptr;
    Gio().variant_get(opened, "(v&o)", nullptr, &path);
    session = path;
    Gio().variant_unref(opened);
    return KeyService::kReady;
  }

  // The secret of item `path` into `key` when it is a key's size.
  bool Secret(const char *path, BYTE (&key)[kMasterKeySize]) {
    GVariant *reply =
        Call(path, "org.freedesktop.Secret.Item", "GetSecret", Gio().variant_new("(o)", session.c_str()), "((oayays))");
    if (reply == nullptr) return false;
    GVariant *value = nullptr;
    Gio().variant_get(reply, "((oay@ays))", nullptr, nullptr, &value, nullptr);
    gsize size = 0;
    const void *bytes = Gio().variant_get_fixed_array(value, &size, 1);
    const bool ok = bytes != nullptr && size == kMasterKeySize;
    if (ok) std::memcpy(key, bytes, kMasterKeySize);
    // The reply is ours alone and about to be freed: its copy of the key goes
    // first.
    if (bytes != nullptr) OPENSSL_cleanse(const_cast<void *>(bytes), size);
    Gio().variant_unref(value);
    Gio().variant_unref(reply);
    return ok;
  }
};

SecretServiceKeys::SecretServiceKeys() {
  auto session = std::make_unique<Session>();
  state_ = session->Open();
  if (state_ == KeyService::kReady) session_ = std::move(session);
}

SecretServiceKeys::~SecretServiceKeys() = default;

DWORD SecretServiceKeys::Find(const BYTE *keyId, MasterKey &out) {
  if (!session_) return kNoKey;
  GVariantBuilder attributes;
  Gio().variant_builder_init(&attributes, VariantType("a{ss}"));
  Gio().variant_builder_add(&attributes, "{ss}", "xdg:schema", kSchemaName);
  Gio().variant_builder_add(&attributes, "{ss}", "purpose", kPurpose);
  if (keyId != nullptr) Gio().variant_builder_add(&attributes, "{ss}", "key-id", Hex(keyId, kKeyIdSize).c_str());
  GVariant *found =
      session_->Call(kServicePath, kService, "SearchItems", Gio().variant_new("(a{ss})", &attributes), "(aoao)");
  if (found == nullptr) return kNoKey;
  GVariantIter *unlocked = nullptr;
  Gio().variant_get(found, "(aoao)", &unlocked, nullptr);
  DWORD result = ERROR_FILE_NOT_FOUND;
  const gchar *path = nullptr;
  while (result != 0 && Gio().variant_iter_next(unlocked, "&o", &path)) {
    if (session_->Secret(path, out.key)) result = 0;
  }
  Gio().variant_iter_free(unlocked);
  Gio().variant_unref(found);
  return result;
}

DWORD SecretServiceKeys::Store(const MasterKey &key) {
  if (!session_) return kNoKey;
  GVariantBuilder attributes;
  Gio().variant_builder_init(&attributes, VariantType("a{ss}"));
  Gio().variant_builder_add(&attributes, "{ss}", "xdg:schema", kSchemaName);
  Gio().variant_builder_add(&attributes, "{ss}", "purpose", kPurpose);
  Gio().variant_builder_add(&attributes, "{ss}", "key-id", Hex(key.id, kKeyIdSize).c_str());
  GVariantBuilder properties;
  Gio().variant_builder_init(&properties, VariantType("a{sv}"));
  Gio().variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label", Gio().variant_new_string(kLabel));
  Gio().variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                            Gio().variant_builder_end(&attributes));
  GVariant *secret = Gio().variant_new(
      "(o@ay@ays)", session_->session.c_str(), Gio().variant_new_fixed_array(G_VARIANT_TYPE_BYTE, nullptr, 0, 1),
      Gio().variant_new_fixed_array(G_VARIANT_TYPE_BYTE, key.key, kMasterKeySize, 1), "application/octet-stream");
  GVariant *made = session_->Call(session_->collection.c_str(), "org.freedesktop.Secret.Collection", "CreateItem",
                                  Gio().variant_new("(a{sv}@(oayays)b)", &properties, secret, FALSE), "(oo)");
  if (made == nullptr) return kNoKey;
  const gchar *item = nullptr;
  Gio().variant_get(made, "(&o&o)", &item, nullptr);
  const DWORD result = std::strcmp(item, "/") != 0 ? 0 : kNoKey;  // "/" with a prompt: never run
  Gio().variant_unref(made);
  return result;
}

}  // namespace posix
}  // namespace quorvane
