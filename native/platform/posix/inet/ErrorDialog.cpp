// InternetErrorDlg's part of a request. There is no dialog here: where
// Windows would ask the user for a password after a 401 (or 407 from the
// proxy), the user's ~/.netrc entry for that very server (or proxy) is used,
// once per server (proxy) and request, offered only with the schemes the
// answer named, and Basic (the password itself) only over TLS.
#include <strings.h>

#include <algorithm>

#include "HttpRequest.h"
#include "Netrc.h"
#include "RequestTarget.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

constexpr long kUnauthorized = 401;
constexpr long kProxyAuthenticationRequired = 407;
// A server and a proxy, each after a redirect.
constexpr size_t kMaxLogins = 4;
// What we can answer a challenge with from a stored password.
constexpr unsigned long kPasswordSchemes = CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_DIGEST_IE | CURLAUTH_NTLM;

// The host of a curl proxy string ("scheme://[user@]host:port").
std::string HostOfProxy(const std::string& proxy) {
  std::string rest = proxy.substr(proxy.find("://") == std::string::npos ? 0 : proxy.find("://") + 3);
  if (const size_t at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
  if (!rest.empty() && rest.front() == '[') return rest.substr(1, rest.find(']') - 1);
  return rest.substr(0, rest.find_first_of(":/"));
}

// Fills `login` from the netrc entry for `host`; false when there is none
// or the answer offered no scheme a password can satisfy.
bool Login(const std::string& host, unsigned long offered, bool overTls, Credentials* login) {
  const unsigned long schemes = offered & kPasswordSchemes & (overTls ? ~0ul : ~CURLAUTH_BASIC);
  if (schemes == 0) return false;
  const auto entry = UserNetrcEntry(host);
  if (!entry) return false;
  login->user = entry->login;
  login->password = entry->password;
  login->schemes = schemes;
  return true;
}

}  // namespace

std::string HttpRequest::ProxyHost() const { return HostOfProxy(proxy_); }

DWORD HttpRequest::OfferLogin(const std::string& who, const std::string& host, unsigned long offered, bool overTls,
                              Credentials* login) {
  // Two servers that each redirect to the other after a login would
  // otherwise ask for ever.
  if (loggedIn_.size() >= kMaxLogins || std::find(loggedIn_.begin(), loggedIn_.end(), who) != loggedIn_.end())
    return ERROR_CANCELLED;
  loggedIn_.push_back(who);
  return Login(host, offered, overTls, login) ? ERROR_INTERNET_FORCE_RETRY : ERROR_CANCELLED;
}

DWORD HttpRequest::AnswerErrorDialog(DWORD error, DWORD flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool judgeAnswer =
      (flags & FLAGS_ERROR_UI_FILTER_FOR_ERRORS) != 0 || error == static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD);
  if (!judgeAnswer || !transfer_) return ERROR_SUCCESS;
  const long status = transfer_->Status();
  if (status == kUnauthorized)
    return OfferLogin(Origin(hop_.secure, hop_.host, hop_.port), hop_.host, transfer_->AuthOffered(false),
                      hop_.secure, &server_);
  if (status == kProxyAuthenticationRequired) {
    if (proxy_.empty()) return ERROR_CANCELLED;
    return OfferLogin("proxy " + proxy_, ProxyHost(), transfer_->AuthOffered(true),
                      strncasecmp(proxy_.c_str(), "https://", 8) == 0, &proxyLogin_);
  }
  return ERROR_SUCCESS;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
