#include "Redirect.h"

#include <strings.h>

#include <cstdlib>
#include <memory>

#include "InetLibraries.h"
#include "RequestTarget.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { Curl().url_cleanup(url); }
};

// A part of a parsed URL; "" when it has none.
std::string Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (Curl().url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return "";
  std::string value = text;
  Curl().free(text);
  return value;
}

}  // namespace

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string VerbAfter(long status, const std::string& verb) {
  if (status == 303 && verb != "HEAD") return "GET";
  if ((status == 301 || status == 302) && verb == "POST") return "GET";
  return verb;
}

bool NextHop(const Hop& from, const std::string& location, Hop* next) {
  if (CurlLibrary::Get() == nullptr || location.empty()) return false;
  std::unique_ptr<CURLU, UrlDeleter> url(Curl().url());
  if (!url) return false;
  const std::string base = UrlOn(Origin(from.secure, from.host, from.port), from.target);
  // Dot segments and escapes stay as the server wrote them.
  if (Curl().url_set(url.get(), CURLUPART_URL, base.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK ||
      Curl().url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK)
    return false;
  const std::string scheme = Part(url.get(), CURLUPART_SCHEME);
  if (strcasecmp(scheme.c_str(), "https") != 0 && strcasecmp(scheme.c_str(), "http") != 0) return false;
  next->secure = strcasecmp(scheme.c_str(), "https") == 0;
  if (from.secure && !next->secure) return false;
  next->host = Part(url.get(), CURLUPART_HOST, CURLU_PUNYCODE);
  if (next->host.size() > 2 && next->host.front() == '[') next->host = next->host.substr(1, next->host.size() - 2);
  next->port = static_cast<unsigned>(std::atoi(Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str()));
  const std::string query = Part(url.get(), CURLUPART_QUERY);
  next->target = Part(url.get(), CURLUPART_PATH);
  if (next->target.empty()) next->target = "/";
  if (!query.empty()) next->target += "?" + query;
  return !next->host.empty() && next->port != 0 && IsUsableServerName(next->host);
}

std::string WireHostName(const std::string& host) {
  if (CurlLibrary::Get() == nullptr || !IsUsableServerName(host)) return "";
  std::unique_ptr<CURLU, UrlDeleter> url(Curl().url());
  if (!url || Curl().url_set(url.get(), CURLUPART_URL, (Origin(false, host, 80) + "/").c_str(), 0) != CURLUE_OK)
    return "";
  std::string name = Part(url.get(), CURLUPART_HOST, CURLU_PUNYCODE);
  if (name.size() > 2 && name.front() == '[') name = name.substr(1, name.size() - 2);
  return name;
}

bool SameServer(const Hop& a, const Hop& b) {
  return a.secure == b.secure && a.port == b.port && strcasecmp(a.host.c_str(), b.host.c_str()) == 0;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
