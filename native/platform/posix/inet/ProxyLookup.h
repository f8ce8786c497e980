// The system's proxy for a URL, through libproxy: the desktop's settings
// (GNOME, KDE), a PAC script, and the http_proxy / https_proxy / no_proxy
// environment, as every other desktop program sees them. One factory serves
// the process (libproxy's factory is thread-safe).
#pragma once

#include <string>

namespace quorvane {
namespace posix {
namespace inet {

// The curl proxy string for the first proxy libproxy offers that curl can
// use: "" for a direct connection, else "http://host:port",
// "socks5h://host:port" or "socks4a://host:port". Direct when libproxy is
// unavailable or offers nothing usable.
std::string SystemProxyFor(const std::string& url);

// Whether a curl proxy string names a plain-HTTP proxy (which takes the
// absolute URL as its request target, unlike a tunnel).
bool IsHttpProxy(const std::string& proxy);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
