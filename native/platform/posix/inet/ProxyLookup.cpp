#include "ProxyLookup.h"

#include <proxy.h>

#include <mutex>

namespace quorvane {
namespace posix {
namespace inet {

namespace {

pxProxyFactory* Factory() {
  static std::once_flag once;
  static pxProxyFactory* factory = nullptr;
  std::call_once(once, [] { factory = px_proxy_factory_new(); });
  return factory;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// libproxy's form of one proxy to curl's; false for one curl cannot use
// (ftp://, pac+ entries left over, ...). SOCKS names are resolved by the proxy (the "h" and "a"
// variants), since the client may not see the server's DNS.
bool CurlProxy(const std::string& proxy, std::string* out) {
  struct Scheme {
    const char* libproxy;
    const char* curl;
  };
  static const Scheme kSchemes[] = {
      {"http://", "http://"}, {"socks5://", "socks5h://"}, {"socks://", "socks5h://"}, {"socks4://", "socks4a://"}};
  if (StartsWith(proxy, "direct://")) {
    out->clear();
    return true;
  }
  for (const Scheme& scheme : kSchemes) {
    if (StartsWith(proxy, scheme.libproxy)) {
      *out = scheme.curl + proxy.substr(std::char_traits<char>::length(scheme.libproxy));
      return true;
    }
  }
  return false;
}

}  // namespace

std::string SystemProxyFor(const std::string& url) {
  pxProxyFactory* factory = Factory();
  if (factory == nullptr) return std::string();
  char** proxies = px_proxy_factory_get_proxies(factory, url.c_str());
  if (proxies == nullptr) return std::string();
  std::string chosen;
  for (char** p = proxies; *p != nullptr; ++p) {
    if (CurlProxy(*p, &chosen)) break;
    chosen.clear();
  }
  px_proxy_factory_free_proxies(proxies);
  return chosen;
}

bool IsHttpProxy(const std::string& proxy) { return StartsWith(proxy, "http://"); }

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
