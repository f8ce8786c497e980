// The user's proxy for a URL. The proxy environment is read as curl reads
// it (http_proxy, https_proxy, all_proxy, no_proxy; upper-case HTTP_PROXY
// is not read, since a CGI server sets it from a request header); without
// any of it, libproxy answers from the desktop's settings (GNOME, KDE) or a
// PAC script. One libproxy factory serves the process (it is thread-safe).
#pragma once

#include <optional>
#include <string>

namespace quorvane {
namespace posix {
namespace inet {

// The curl proxy string for `url` (whose host is `host`): "" for a direct
// connection, else "scheme://host:port" with a scheme curl supports.
// nullopt when the proxy set for it is one curl cannot use: the request
// must then fail rather than go direct.
std::optional<std::string> SystemProxyFor(const std::string& url, bool secure, const std::string& host);

// Whether `host` is one the no_proxy list exempts ("*" exempts every host).
bool NoProxyCovers(const std::string& list, const std::string& host);

// Whether a curl proxy string names an HTTP proxy (which takes the absolute
// URL as its request target for plain HTTP, unlike a tunnel).
bool IsHttpProxy(const std::string& proxy);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
