// Following redirects as WinInet does by default: a 301, 302, 303, 307 or
// 308 answer with a Location is sent on to the place it names, at most
// kMaxRedirects times. 301/302 turn a POST into a GET without a body, 303
// turns anything but HEAD into a GET, 307/308 keep the verb and the body.
// A redirect from TLS to plain HTTP is not followed (its answer is the
// result), nor one to a scheme other than http or https.
#pragma once

#include <string>

namespace quorvane {
namespace posix {
namespace inet {

constexpr int kMaxRedirects = 10;

// One place a request goes to: the target is in origin form ("/path?query").
struct Hop {
  bool secure = false;
  std::string host;
  unsigned port = 0;
  std::string target;
};

bool IsRedirect(long status);
// The verb a redirect with `status` sends on, and whether the body goes too.
std::string VerbAfter(long status, const std::string& verb);
inline bool BodyKept(long status) { return status == 307 || status == 308; }
// Resolves `location` (absolute or relative) against `from`; false when it
// is not to be followed.
bool NextHop(const Hop& from, const std::string& location, Hop* next);
// The host as curl sends and resolves it: a name beyond ASCII in punycode,
// an IPv4 address in dotted-quad form, no IPv6 brackets; "" when curl
// cannot take it as a host.
std::string WireHostName(const std::string& host);
// Whether two hops go to the same server (credentials stay with a server).
bool SameServer(const Hop& a, const Hop& b);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
