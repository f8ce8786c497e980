#include "ProxyLookup.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "InetLibraries.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

// Null without libproxy: then the desktop's settings are not known.
pxProxyFactory* Factory() {
  static std::once_flag once;
  static pxProxyFactory* factory = nullptr;
  std::call_once(once, [] {
    if (const ProxyLibrary* proxy = ProxyLibrary::Get()) factory = proxy->proxy_factory_new();
  });
  return factory;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// A proxy setting as curl takes it; false for a scheme curl cannot use.
// libproxy's plain SOCKS names become the variants that let the proxy
// resolve the name, since the client may not see the server's DNS.
bool CurlProxy(std::string proxy, bool fromLibproxy, std::string* out) {
  if (proxy.find("://") == std::string::npos) proxy = "http://" + proxy;  // curl's default
  if (fromLibproxy) {
    static const char* const kRenamed[][2] = {
        {"socks5://", "socks5h://"}, {"socks://", "socks5h://"}, {"socks4://", "socks4a://"}};
    for (const auto& renamed : kRenamed)
      if (StartsWith(proxy, renamed[0])) proxy = renamed[1] + proxy.substr(strlen(renamed[0]));
  }
  for (const char* scheme : {"http://", "https://", "socks4://", "socks4a://", "socks5://", "socks5h://"}) {
    if (StartsWith(proxy, scheme) && proxy.size() > strlen(scheme)) {
      *out = proxy;
      return true;
    }
  }
  return false;
}

std::optional<std::string> FromEnvironment(bool secure, const std::string& host) {
  const char* noProxy = Env("no_proxy");
  if (noProxy == nullptr) noProxy = Env("NO_PROXY");
  if (noProxy != nullptr && NoProxyCovers(noProxy, host)) return std::string();
  const char* proxy = secure ? (Env("https_proxy") != nullptr ? Env("https_proxy") : Env("HTTPS_PROXY"))
                             : Env("http_proxy");
  if (proxy == nullptr) proxy = Env("all_proxy") != nullptr ? Env("all_proxy") : Env("ALL_PROXY");
  if (proxy == nullptr) return std::string();
  std::string chosen;
  if (!CurlProxy(proxy, false, &chosen)) return std::nullopt;
  return chosen;
}

}  // namespace

bool NoProxyCovers(const std::string& list, const std::string& host) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(", \t", start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']') entry = entry.substr(1, entry.size() - 2);
    if (entry.empty() || entry.size() > host.size()) continue;
    const size_t at = host.size() - entry.size();
    if (strcasecmp(host.c_str() + at, entry.c_str()) == 0 && (at == 0 || host[at - 1] == '.')) return true;
  }
  return false;
}

std::optional<std::string> SystemProxyFor(const std::string& url, bool secure, const std::string& host) {
  // Any proxy variable means the environment decides, as it does for curl
  // and libproxy; only the variables curl ignores are left out of it.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                           "no_proxy", "NO_PROXY"})
    if (Env(name) != nullptr) return FromEnvironment(secure, host);
  pxProxyFactory* factory = Factory();
  if (factory == nullptr) return std::string();
  const ProxyLibrary& proxy = *ProxyLibrary::Get();
  char** proxies = proxy.proxy_factory_get_proxies(factory, url.c_str());
  if (proxies == nullptr || proxies[0] == nullptr) {
    if (proxies != nullptr) proxy.proxy_factory_free_proxies(proxies);
    return std::string();
  }
  // The first choice is the user's; a later one is only a fallback.
  const std::string first = proxies[0];
  proxy.proxy_factory_free_proxies(proxies);
  if (StartsWith(first, "direct://")) return std::string();
  std::string chosen;
  if (!CurlProxy(first, true, &chosen)) return std::nullopt;
  return chosen;
}

bool IsHttpProxy(const std::string& proxy) { return StartsWith(proxy, "http://") || StartsWith(proxy, "https://"); }

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
