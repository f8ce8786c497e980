#include "HttpRequest.h"

#include "ProxyLookup.h"
#include "Redirect.h"
#include "RequestTarget.h"
#include "WinInetApi.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

constexpr size_t kDrainBytes = 64 * 1024;

}  // namespace

HttpRequest::HttpRequest(std::shared_ptr<Connection> connection, std::string verb, std::string target, DWORD flags)
    : InetObject(Kind::kRequest, connection->GetTimeouts()),
      connection_(std::move(connection)),
      verb_(std::move(verb)),
      target_(std::move(target)),
      flags_(flags) {
  if (!connection_->user.empty()) {
    server_.user = connection_->user;
    server_.password = connection_->password;
    server_.schemes = CURLAUTH_BASIC | CURLAUTH_DIGEST;
  }
}

DWORD HttpRequest::AddHeaders(const WCHAR* text, DWORD length, DWORD modifiers) {
  std::lock_guard<std::mutex> lock(mutex_);
  return headers_.Add(text, length, modifiers);
}

Hop HttpRequest::FirstHop() const {
  Hop hop;
  hop.secure = (flags_ & INTERNET_FLAG_SECURE) != 0;
  hop.host = WireHostName(connection_->host);
  hop.port = connection_->port;
  if (hop.port == INTERNET_INVALID_PORT_NUMBER) hop.port = hop.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  hop.target = target_;
  return hop;
}

TransferSetup HttpRequest::Setup(const RequestHeaders& headers, const Hop& hop, const std::string& verb) const {
  const std::string origin = Origin(hop.secure, hop.host, hop.port);
  TransferSetup setup;
  setup.url = origin + "/";
  // The whole URL, since a PAC script may choose by path.
  if (!connection_->session->direct) {
    auto proxy = SystemProxyFor(UrlOn(origin, hop.target), hop.secure, hop.host);
    setup.proxyUsable = proxy.has_value();
    if (proxy) setup.proxy = std::move(*proxy);
  }
  // A plain-HTTP proxy takes the absolute URL; a tunnel (CONNECT, SOCKS)
  // takes the target as the server would.
  setup.target = !hop.secure && IsHttpProxy(setup.proxy) ? UrlOn(origin, hop.target) : hop.target;
  setup.verb = verb;
  setup.agent = connection_->session->agent;
  setup.timeouts = GetTimeouts();
  setup.server = server_;
  setup.proxyLogin = proxyLogin_;

  auto add = [&](const char* name, const char* value) {
    if (!headers.Has(name)) setup.headers.push_back(std::string(name) + ": " + value);
  };
  if ((flags_ & (INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_RELOAD)) != 0) {
    add("Pragma", "no-cache");
    add("Cache-Control", "no-cache");
  }
  if ((flags_ & INTERNET_FLAG_KEEP_CONNECTION) != 0) add("Connection", "Keep-Alive");
  // curl would wait for a 100 answer before sending a large body; WinInet never does.
  add("Expect", "");
  for (const RequestHeaders::Header& header : headers.List()) setup.headers.push_back(header.name + ": " + header.value);
  return setup;
}

DWORD HttpRequest::Exchange(TransferSetup& setup, const RequestHeaders& sent, const std::string& body) {
  // GET and HEAD carry no body; an empty POST still says Content-Length: 0.
  const bool bodiless = setup.verb == "GET" || setup.verb == "HEAD";
  if (!bodiless) setup.body = body;
  setup.hasBody = !bodiless && (!setup.body.empty() || setup.verb == "POST" || setup.verb == "PUT");
  // WinInet sends no Content-Type of its own; curl would add a form type.
  if (setup.hasBody && !sent.Has("Content-Type")) setup.headers.push_back("Content-Type:");
  // Proxy credentials belong to the proxy they were given for.
  if (setup.proxy != proxy_) {
    proxyLogin_ = Credentials();
    setup.proxyLogin = Credentials();
  }
  proxy_ = setup.proxy;
  if (transfer_) {
    // The unread rest of a short answer (a 401 page, a redirect) is read
    // away so that the next exchange finds the connection free; a longer
    // one costs the connection.
    transfer_->Drain(kDrainBytes);
    transfer_.reset();
  }
  // A proxy the user set is used or nothing is sent; never a direct request.
  if (!setup.proxyUsable) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
  transfer_ = std::make_unique<Transfer>();
  return transfer_->Start(setup);
}

DWORD HttpRequest::Send(const WCHAR* headers, DWORD headersLength, const void* body, DWORD bodyLength) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A name that would change the URL's meaning cannot be a host anyone resolves.
  if (WireHostName(connection_->host).empty()) {
    transfer_.reset();
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  RequestHeaders sent = headers_;
  if (headers != nullptr && headersLength != 0) {
    const DWORD error = sent.Add(headers, headersLength, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    if (error != ERROR_SUCCESS) return error;
  }
  // A retry after the error dialog starts where the last redirect led,
  // with the verb and body it left.
  if (hop_.host.empty()) {
    hop_ = FirstHop();
    hopVerb_ = verb_;
  }
  std::string payload;
  if (body != nullptr && hopKeepsBody_) payload.assign(static_cast<const char*>(body), bodyLength);
  for (int redirects = 0;; ++redirects) {
    TransferSetup setup = Setup(sent, hop_, hopVerb_);
    const DWORD error = Exchange(setup, sent, payload);
    if (error != ERROR_SUCCESS) return error;
    const long status = transfer_->Status();
    Hop next;
    if (redirects == kMaxRedirects || !IsRedirect(status) || !NextHop(hop_, transfer_->Location(), &next))
      return error;
    hopVerb_ = VerbAfter(status, hopVerb_);
    if (!BodyKept(status)) {
      payload.clear();
      hopKeepsBody_ = false;
    }
    // Credentials belong to the server they were given for.
    if (!SameServer(hop_, next)) server_ = Credentials();
    hop_ = next;
  }
}

DWORD HttpRequest::QueryStatus(long* status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!transfer_ || transfer_->Status() == 0) return ERROR_HTTP_HEADER_NOT_FOUND;
  *status = transfer_->Status();
  return ERROR_SUCCESS;
}

DWORD HttpRequest::Read(void* buffer, DWORD size, DWORD* read) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!transfer_) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
  return transfer_->Read(buffer, size, read);
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
