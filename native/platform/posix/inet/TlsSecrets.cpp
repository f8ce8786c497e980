#include "TlsSecrets.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "InetLibraries.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

// OpenSSL's SSL_CTX_set_keylog_callback, from the libssl libcurl brought in.
using SetKeylogCallback = void (*)(void* context, void* callback);

SetKeylogCallback KeylogSetter() {
  static std::once_flag once;
  static SetKeylogCallback setter = nullptr;
  std::call_once(once, [] {
    for (const char* name : {"libssl.so.3", "libssl.so.1.1"}) {
      if (void* library = dlopen(name, RTLD_LAZY | RTLD_NOLOAD)) {
        setter = reinterpret_cast<SetKeylogCallback>(dlsym(library, "SSL_CTX_set_keylog_callback"));
        if (setter != nullptr) break;
      }
    }
  });
  return setter;
}

// Runs after libcurl has set its own key-log callback up, just before the
// handshake: takes it off again.
CURLcode DropKeylog(CURL*, void* context, void*) {
  SetKeylogCallback setter = KeylogSetter();
  if (setter == nullptr) return CURLE_SSL_ENGINE_INITFAILED;
  setter(context, nullptr);
  return CURLE_OK;
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool KeepTlsSecrets(CURL* easy) {
  if (!Set("SSLKEYLOGFILE")) return true;
  const char* allowed = std::getenv("QV_INET_KEYLOG");
  if (allowed != nullptr && std::strcmp(allowed, "1") == 0) return true;
  return Curl().easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &DropKeylog) == CURLE_OK;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
