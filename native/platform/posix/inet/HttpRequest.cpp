#include "HttpRequest.h"

#include "ProxyLookup.h"
#include "RequestTarget.h"

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

TransferSetup HttpRequest::Setup(const RequestHeaders& headers) const {
  const bool secure = (flags_ & INTERNET_FLAG_SECURE) != 0;
  unsigned port = connection_->port;
  if (port == INTERNET_INVALID_PORT_NUMBER) port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  const std::string origin = Origin(secure, connection_->host, port);

  TransferSetup setup;
  setup.url = origin + "/";
  // The whole URL, since a PAC script may choose by path.
  if (!connection_->session->direct) SystemProxyFor(origin + (target_[0] == '/' ? target_ : "/")).swap(setup.proxy);
  // A plain-HTTP proxy takes the absolute URL; a tunnel (CONNECT, SOCKS)
  // takes the target as the server would.
  setup.target = !secure && IsHttpProxy(setup.proxy) ? origin + target_ : target_;
  setup.verb = verb_;
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

DWORD HttpRequest::Send(const WCHAR* headers, DWORD headersLength, const void* body, DWORD bodyLength) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A name that would change the URL's meaning cannot be a host anyone resolves.
  if (!IsUsableServerName(connection_->host)) {
    transfer_.reset();
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  RequestHeaders sent = headers_;
  if (headers != nullptr && headersLength != 0) {
    const DWORD error = sent.Add(headers, headersLength, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    if (error != ERROR_SUCCESS) return error;
  }
  TransferSetup setup = Setup(sent);
  // GET and HEAD carry no body; an empty POST still says Content-Length: 0.
  const bool bodiless = verb_ == "GET" || verb_ == "HEAD";
  if (!bodiless && body != nullptr && bodyLength != 0) setup.body.assign(static_cast<const char*>(body), bodyLength);
  setup.hasBody = !bodiless && (!setup.body.empty() || verb_ == "POST" || verb_ == "PUT");
  // WinInet sends no Content-Type of its own; curl would add a form type.
  if (setup.hasBody && !sent.Has("Content-Type")) setup.headers.push_back("Content-Type:");
  proxy_ = setup.proxy;
  if (transfer_) {
    // The unread rest of a short answer (a 401 page) is read away so that
    // the retry finds the connection free; a longer one costs the connection.
    transfer_->Drain(kDrainBytes);
    transfer_.reset();
  }
  transfer_ = std::make_unique<Transfer>();
  return transfer_->Start(setup);
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
