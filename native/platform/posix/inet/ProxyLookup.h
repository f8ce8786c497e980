// The user's proxy for a URL. The source is chosen per request by the
// variables curl reads for its scheme: when one of them names a proxy
// (http_proxy for HTTP; https_proxy or HTTPS_PROXY for HTTPS; all_proxy or
// ALL_PROXY for both), the environment decides as it does for curl;
// otherwise libproxy answers from the desktop's settings (GNOME, KDE) or a
// PAC script. A variable that names no proxy for the request (HTTP_PROXY,
// which curl leaves unread since a CGI server sets it from a request header,
// or https_proxy for plain HTTP) never switches the desktop's proxy off.
// no_proxy (else NO_PROXY) refines either source, read exactly as curl
// reads it; an empty variable counts as unset, as for curl. One libproxy
// factory serves the process (it is thread-safe).
#pragma once

#include <optional>
#include <string>

namespace quorvane {
namespace posix {
namespace inet {

// The curl proxy string for `url`, whose host is `host` as curl sees it
// (punycode, no brackets): "" for a direct connection, else
// "scheme://host:port" with a scheme curl supports. nullopt when the proxy
// set for it is one curl cannot use: the request must then fail rather
// than go direct.
std::optional<std::string> SystemProxyFor(const std::string& url, bool secure, const std::string& host);

// Whether curl's no_proxy matching exempts `host` (no brackets) by `list`:
// "*" alone exempts every host; entries are separated by commas or blanks;
// a name matches itself and its subdomains, with one leading and trailing
// dot ignored; an IPv4 address matches only an address or a CIDR range; an
// IPv6 address, which curl 7.88 sees without brackets, is compared as text.
bool NoProxyCovers(const std::string& list, const std::string& host);

// Whether a curl proxy string names an HTTP proxy (which takes the absolute
// URL as its request target for plain HTTP, unlike a tunnel).
bool IsHttpProxy(const std::string& proxy);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
