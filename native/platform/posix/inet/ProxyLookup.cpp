#include "ProxyLookup.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstdint>
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

// A variable as curl's getenv takes it: an empty one is not set.
std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// The proxy variable curl reads for the scheme; "" when it names none.
std::string EnvironmentProxy(bool secure) {
  std::optional<std::string> proxy = Env(secure ? "https_proxy" : "http_proxy");
  if (!proxy && secure) proxy = Env("HTTPS_PROXY");
  if (!proxy) proxy = Env("all_proxy");
  if (!proxy) proxy = Env("ALL_PROXY");
  return proxy.value_or("");
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// An IPv4 address against a network of `bits` bits (0: the whole
// address), as curl compares them.
bool AddressInNetwork(const std::string& host, const std::string& network, unsigned bits) {
  in_addr address, check;
  if (inet_pton(AF_INET, host.c_str(), &address) != 1 || inet_pton(AF_INET, network.c_str(), &check) != 1) return false;
  if (bits > 32) return false;
  const uint32_t mask = bits == 0 || bits == 32 ? 0xFFFFFFFFu : 0xFFFFFFFFu << (32 - bits);
  return ((ntohl(address.s_addr) ^ ntohl(check.s_addr)) & mask) == 0;
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

}  // namespace

bool NoProxyCovers(const std::string& list, const std::string& host) {
  if (host.empty() || list.empty()) return false;
  if (list == "*") return true;
  // curl 7.88 sees an IPv6 host without its brackets and so compares it
  // as a name; only an IPv4 address is matched by address.
  in_addr scratch;
  const bool v4 = inet_pton(AF_INET, host.c_str(), &scratch) == 1;
  std::string name = host;
  if (!v4 && name.back() == '.') name.pop_back();
  size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && (IsBlank(list[at]) || list[at] == ',')) ++at;
    const size_t start = at;
    while (at < list.size() && !IsBlank(list[at]) && list[at] != ',') ++at;
    std::string entry = list.substr(start, at - start);
    if (!entry.empty()) {
      if (v4) {
        const size_t slash = entry.find('/');
        const int bits = slash == std::string::npos ? 0 : std::atoi(entry.c_str() + slash + 1);
        if (AddressInNetwork(host, entry.substr(0, slash), static_cast<unsigned>(bits))) return true;
      } else {
        if (entry.back() == '.') entry.pop_back();
        if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
        if (entry.size() == name.size() && strcasecmp(entry.c_str(), name.c_str()) == 0) return true;
        const size_t tail = name.size() - entry.size();
        if (entry.size() < name.size() && name[tail - 1] == '.' && strcasecmp(entry.c_str(), name.c_str() + tail) == 0)
          return true;
      }
    }
  }
  return false;
}

std::optional<std::string> SystemProxyFor(const std::string& url, bool secure, const std::string& host) {
  std::optional<std::string> noProxy = Env("no_proxy");
  if (!noProxy) noProxy = Env("NO_PROXY");
  if (noProxy && NoProxyCovers(*noProxy, host)) return std::string();
  std::string chosen;
  if (const std::string proxy = EnvironmentProxy(secure); !proxy.empty())
    return CurlProxy(proxy, false, &chosen) ? std::optional<std::string>(chosen) : std::nullopt;
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
  if (!CurlProxy(first, true, &chosen)) return std::nullopt;
  return chosen;
}

bool IsHttpProxy(const std::string& proxy) { return StartsWith(proxy, "http://") || StartsWith(proxy, "https://"); }

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
