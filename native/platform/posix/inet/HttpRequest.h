// A request handle: what HttpOpenRequestW fixed (verb, request target,
// flags) and HttpAddRequestHeadersW added, the credentials the error
// "dialog" found, and the exchange of the last HttpSendRequestW. Every send
// starts a new exchange, so sending again on the same handle is the retry
// of WinInet's dialog loop. Calls on one handle are serialised by its lock.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "InetHandles.h"
#include "Redirect.h"
#include "RequestHeaders.h"
#include "Transfer.h"

namespace quorvane {
namespace posix {
namespace inet {

class HttpRequest final : public InetObject {
 public:
  HttpRequest(std::shared_ptr<Connection> connection, std::string verb, std::string target, DWORD flags);

  // Each answers ERROR_SUCCESS or the WinInet error.
  DWORD AddHeaders(const WCHAR* text, DWORD length, DWORD modifiers);
  DWORD Send(const WCHAR* headers, DWORD headersLength, const void* body, DWORD bodyLength);
  DWORD QueryStatus(long* status);
  DWORD Read(void* buffer, DWORD size, DWORD* read);
  // InternetErrorDlg's answer for this request (see WinInetApi.h).
  DWORD AnswerErrorDialog(DWORD error, DWORD flags);

 private:
  Hop FirstHop() const;
  TransferSetup Setup(const RequestHeaders& headers, const Hop& hop, const std::string& verb) const;
  // Sends one request of a send (the first, or one a redirect led to).
  DWORD Exchange(TransferSetup& setup, const RequestHeaders& sent, const std::string& body);
  std::string ProxyHost() const;
  // The dialog's answer to a challenge from `who`: a retry with its netrc
  // entry, once per server or proxy and at most kMaxLogins times per request;
  // Basic only when the password goes `overTls`.
  DWORD OfferLogin(const std::string& who, const std::string& host, unsigned long offered, bool overTls,
                   Credentials* login);

  const std::shared_ptr<Connection> connection_;
  const std::string verb_, target_;
  const DWORD flags_;

  std::mutex mutex_;
  RequestHeaders headers_;
  Credentials server_, proxyLogin_;
  std::vector<std::string> loggedIn_;  // who was given a password in this request
  std::string proxy_;  // the proxy of the last send
  Hop hop_;  // where the last send ended up after redirects, and how
  std::string hopVerb_;
  bool hopKeepsBody_ = true;
  std::unique_ptr<Transfer> transfer_;
};

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
