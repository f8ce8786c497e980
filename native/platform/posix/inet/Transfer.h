// One HTTP exchange driven by a curl multi handle of its own, pulled by the
// caller rather than pushed: Start runs it until the final response's
// headers are in, Read runs it only while the caller has nothing left to
// read. The write callback keeps at most one curl delivery (at most
// CURL_MAX_WRITE_SIZE bytes) and pauses the transfer while that is unread,
// so memory stays bounded whatever the size of the body.
//
// Time limits: the connect limit covers reaching the server (proxy
// included); the receive limit bounds both the time from the request being
// sent to the final response's headers, however slowly they trickle in, and
// the time without a byte once the body flows (counted only inside Start or
// Read, not while the caller is busy); the request limit bounds the whole
// exchange from Start, by the clock.
//
// Not thread-safe: the owning request handle serialises its calls.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <vector>

#include "InetTimeouts.h"
#include "../base/WinError.h"
#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

struct Credentials {
  std::string user, password;
  unsigned long schemes = 0;  // CURLAUTH_* mask; 0 for none
};

struct TransferSetup {
  std::string url;     // scheme://host:port/
  std::string target;  // request target, sent verbatim
  std::string verb;
  std::string agent;
  std::string proxy;  // "" for a direct connection
  bool proxyUsable = true;  // false: the user's proxy is one curl cannot use
  std::vector<std::string> headers;
  std::string body;
  bool hasBody = false;
  Timeouts timeouts;
  Credentials server, proxyLogin;
};

class Transfer {
 public:
  Transfer() = default;
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sends the request and waits for the final response's headers (or the
  // end of the exchange). ERROR_SUCCESS or the WinInet error.
  DWORD Start(const TransferSetup& setup);
  // `size` body bytes into `buffer`, fewer only at the end of the body or
  // before a failure; *read = 0 at the end of the body.
  DWORD Read(void* buffer, DWORD size, DWORD* read);
  // Reads and drops up to `limit` more body bytes, so that a finished
  // exchange leaves its connection to the next one.
  void Drain(size_t limit);

  // The final response's status; for a tunnel the proxy refused, its
  // status; 0 when none was read.
  long Status() const { return status_; }
  // The final response's Location header; "" when it has none.
  const std::string& Location() const { return location_; }
  // CURLAUTH_* schemes the last answer offered (WWW-Authenticate, or
  // Proxy-Authenticate with `proxy`).
  unsigned long AuthOffered(bool proxy) const;

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);
  static int OnConnected(void* self, char* primaryIp, char* localIp, int primaryPort, int localPort);

  bool Configure(const TransferSetup& setup);
  // Takes the next curl delivery once the last one is read: resumes the
  // paused transfer and runs it until one arrives or the exchange ends.
  DWORD Refill();
  // Runs the exchange until `ready()` or its end; ERROR_SUCCESS unless it
  // failed or stalled.
  template <typename Ready>
  DWORD Drive(Ready ready);
  void Finish(CURLcode result);
  DWORD Failure() const;
  bool Unread() const { return offset_ < pending_.size(); }

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headerList_ = nullptr;
  bool serverLoginSet_ = false, proxyLoginSet_ = false;
  DWORD receiveMs_ = kDefaultReceiveTimeoutMs;
  DWORD requestMs_ = kDefaultRequestTimeoutMs;

  std::vector<char> pending_;
  size_t offset_ = 0;
  bool paused_ = false;
  bool connected_ = false;
  bool headersDone_ = false;
  bool seen401_ = false, seen407_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  DWORD stalled_ = ERROR_SUCCESS;
  long status_ = 0;
  std::string location_;
  curl_off_t progress_ = 0, uploaded_ = 0;
  std::chrono::steady_clock::time_point lastActivity_;
  std::chrono::steady_clock::time_point started_, sent_;  // Start; the request's last byte going out
};

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
