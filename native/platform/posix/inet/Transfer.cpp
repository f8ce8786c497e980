#include "Transfer.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CurlShare.h"
#include "InetErrors.h"
#include "InetLibraries.h"
#include "TlsSecrets.h"
#include "WinInetApi.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

using Clock = std::chrono::steady_clock;

// The longest single wait, so a stalled exchange is noticed in time.
constexpr long kPollSliceMs = 1000;
// WinInet's keep-alive limit for an idle connection.
constexpr long kMaxIdleConnectionSeconds = 60;

long CurlMs(DWORD ms) { return IsUnlimited(ms) ? LONG_MAX : static_cast<long>(ms); }

}  // namespace

Transfer::~Transfer() {
  if (multi_ != nullptr && easy_ != nullptr) Curl().multi_remove_handle(multi_, easy_);
  if (easy_ != nullptr) Curl().easy_cleanup(easy_);
  ReleaseMultiHandle(multi_);
  if (headerList_ != nullptr) Curl().slist_free_all(headerList_);
}

bool Transfer::Configure(const TransferSetup& setup) {
  for (const std::string& header : setup.headers) {
    curl_slist* list = Curl().slist_append(headerList_, header.c_str());
    if (list == nullptr) return false;
    headerList_ = list;
  }
  bool ok = Curl().easy_setopt(easy_, CURLOPT_SHARE, SharedCurlState()) == CURLE_OK;
  auto set = [&](CURLoption option, auto value) { ok = ok && Curl().easy_setopt(easy_, option, value) == CURLE_OK; };
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_URL, setup.url.c_str());
  set(CURLOPT_REQUEST_TARGET, setup.target.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_FOLLOWLOCATION, 0L);
  // Set even when empty, so curl applies no proxy environment of its own
  // over what the system's settings decided.
  set(CURLOPT_PROXY, setup.proxy.c_str());
  set(CURLOPT_NOPROXY, "");
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_HTTPHEADER, headerList_);
  set(CURLOPT_PROXYHEADER, static_cast<curl_slist*>(nullptr));
  if (!setup.agent.empty()) set(CURLOPT_USERAGENT, setup.agent.c_str());
  if (setup.hasBody) {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(setup.body.size()));
    set(CURLOPT_COPYPOSTFIELDS, setup.body.c_str());
    if (setup.verb != "POST") set(CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
  } else if (setup.verb == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else if (setup.verb != "GET") {
    set(CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
  }

  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  set(CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
  set(CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
  // Another trust store as the curl tool takes it, for an HTTPS proxy as for
  // the server: CURL_CA_BUNDLE, else OpenSSL's SSL_CERT_FILE and
  // SSL_CERT_DIR. Without them libcurl uses its built-in bundle path.
  auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
  };
  const char* bundle = variable("CURL_CA_BUNDLE");
  const char* file = bundle != nullptr ? bundle : variable("SSL_CERT_FILE");
  const char* dir = bundle != nullptr ? nullptr : variable("SSL_CERT_DIR");
  if (file != nullptr) {
    set(CURLOPT_CAINFO, file);
    set(CURLOPT_PROXY_CAINFO, file);
  }
  if (dir != nullptr) {
    set(CURLOPT_CAPATH, dir);
    set(CURLOPT_PROXY_CAPATH, dir);
  }
  if (!KeepTlsSecrets(easy_)) return false;

  set(CURLOPT_CONNECTTIMEOUT_MS, CurlMs(setup.timeouts.connectMs));
  // The whole exchange's ceiling; Drive checks it too, and the receive limit.
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(setup.timeouts.requestMs));
  requestMs_ = setup.timeouts.requestMs;
  // A pooled connection idle this long is closed rather than reused.
  set(CURLOPT_MAXAGE_CONN, kMaxIdleConnectionSeconds);
  receiveMs_ = setup.timeouts.receiveMs;

  if (setup.server.schemes != 0) {
    set(CURLOPT_USERNAME, setup.server.user.c_str());
    set(CURLOPT_PASSWORD, setup.server.password.c_str());
    set(CURLOPT_HTTPAUTH, setup.server.schemes);
    serverLoginSet_ = true;
  }
  if (setup.proxyLogin.schemes != 0) {
    set(CURLOPT_PROXYUSERNAME, setup.proxyLogin.user.c_str());
    set(CURLOPT_PROXYPASSWORD, setup.proxyLogin.password.c_str());
    set(CURLOPT_PROXYAUTH, setup.proxyLogin.schemes);
    proxyLoginSet_ = true;
  }

  set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
  set(CURLOPT_PREREQDATA, this);
  if (std::getenv("QV_INET_VERBOSE") != nullptr) set(CURLOPT_VERBOSE, 1L);
  return ok;
}

DWORD Transfer::Start(const TransferSetup& setup) {
  if (SharedCurlState() == nullptr) return ERROR_INTERNET_INTERNAL_ERROR;
  easy_ = Curl().easy_init();
  multi_ = AcquireMultiHandle();
  if (easy_ == nullptr || multi_ == nullptr || !Configure(setup)) return ERROR_INTERNET_INTERNAL_ERROR;
  started_ = Clock::now();
  if (Curl().multi_add_handle(multi_, easy_) != CURLM_OK) {
    Curl().easy_cleanup(easy_);
    easy_ = nullptr;
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
  return Drive([this] { return headersDone_; });
}

DWORD Transfer::Read(void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  // Like WinInet's synchronous read, fills the whole buffer unless the body
  // ends or fails first; a failure after some bytes is reported by the next
  // call, once those bytes are handed out.
  while (*read < size) {
    if (!Unread()) {
      const DWORD error = Refill();
      if (!Unread()) return *read > 0 ? ERROR_SUCCESS : error;
    }
    const size_t count = std::min<size_t>(size - *read, pending_.size() - offset_);
    std::memcpy(static_cast<char*>(buffer) + *read, pending_.data() + offset_, count);
    offset_ += count;
    *read += static_cast<DWORD>(count);
  }
  return ERROR_SUCCESS;
}

DWORD Transfer::Refill() {
  pending_.clear();
  offset_ = 0;
  if (done_) return Failure();
  if (paused_) {
    paused_ = false;
    // May hand the held delivery to OnBody at once.
    if (Curl().easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) Finish(CURLE_RECV_ERROR);
  }
  return Unread() ? ERROR_SUCCESS : Drive([this] { return Unread(); });
}

void Transfer::Drain(size_t limit) {
  char scratch[CURL_MAX_WRITE_SIZE];
  size_t dropped = 0;
  DWORD read = 0;
  while (dropped < limit && Read(scratch, sizeof scratch, &read) == ERROR_SUCCESS && read != 0) dropped += read;
}

template <typename Ready>
DWORD Transfer::Drive(Ready ready) {
  lastActivity_ = Clock::now();
  while (!done_) {
    int running = 0;
    if (Curl().multi_perform(multi_, &running) != CURLM_OK) {
      Finish(CURLE_OUT_OF_MEMORY);
      break;
    }
    int queued = 0;
    while (CURLMsg* message = Curl().multi_info_read(multi_, &queued))
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) Finish(message->data.result);
    if (done_ || ready()) break;
    // Milliseconds left before each limit that applies now; the least decides.
    const auto now = Clock::now();
    auto since = [&](Clock::time_point then) {
      return std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count();
    };
    long long left = static_cast<long long>(requestMs_) - since(started_);
    if (connected_ && !IsUnlimited(receiveMs_)) {
      left = std::min<long long>(left, static_cast<long long>(receiveMs_) - since(lastActivity_));
      if (!headersDone_) left = std::min<long long>(left, static_cast<long long>(receiveMs_) - since(sent_));
    }
    if (left <= 0) {
      stalled_ = ERROR_INTERNET_TIMEOUT;
      Finish(CURLE_OPERATION_TIMEDOUT);
      break;
    }
    Curl().multi_poll(multi_, nullptr, 0, static_cast<int>(std::clamp<long long>(left, 1, kPollSliceMs)), nullptr);
  }
  return done_ ? Failure() : ERROR_SUCCESS;
}

void Transfer::Finish(CURLcode result) {
  if (done_) return;
  done_ = true;
  result_ = result;
  if (result != CURLE_OK && status_ == 0) {
    // A tunnel the proxy refused (407 above all) reads as that answer.
    long connectCode = 0;
    if (Curl().easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &connectCode) == CURLE_OK && connectCode >= 300)
      status_ = connectCode;
  }
  if (result == CURLE_OK) {
    headersDone_ = true;
    if (status_ == 0) Curl().easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status_);
  }
  // Out of the multi handle at once: a finished exchange hands its
  // connection back to the shared cache, a failed one closes it.
  Curl().multi_remove_handle(multi_, easy_);
}

DWORD Transfer::Failure() const {
  if (stalled_ != ERROR_SUCCESS) return stalled_;
  // A proxy's certificate is checked first; the server's is then unread.
  long verifyResult = 0;
  if (result_ == CURLE_PEER_FAILED_VERIFICATION &&
      (Curl().easy_getinfo(easy_, CURLINFO_PROXY_SSL_VERIFYRESULT, &verifyResult) != CURLE_OK || verifyResult == 0))
    Curl().easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  return WinInetErrorFromCurl(result_, verifyResult);
}

unsigned long Transfer::AuthOffered(bool proxy) const {
  long offered = 0;
  if (easy_ == nullptr ||
      Curl().easy_getinfo(easy_, proxy ? CURLINFO_PROXYAUTH_AVAIL : CURLINFO_HTTPAUTH_AVAIL, &offered) != CURLE_OK)
    return 0;
  return static_cast<unsigned long>(offered);
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  Transfer& t = *static_cast<Transfer*>(self);
  const size_t bytes = size * count;
  t.lastActivity_ = Clock::now();
  const bool blank = bytes <= 2 && (bytes == 0 || data[0] == '\r' || data[0] == '\n');
  if (t.headersDone_) return bytes;
  if (!blank) {
    const std::string line(data, bytes);
    if (line.compare(0, 5, "HTTP/") == 0) t.location_.clear();  // each answer has its own
    if (bytes > 9 && strncasecmp(data, "location:", 9) == 0) {
      const size_t start = line.find_first_not_of(" \t", 9), end = line.find_last_not_of(" \t\r\n");
      t.location_ = start == std::string::npos || end < start ? "" : line.substr(start, end - start + 1);
    }
    return bytes;
  }
  long code = 0;
  Curl().easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &code);
  if (code / 100 == 1) return bytes;  // an interim answer; the real one follows
  t.status_ = code;
  // The first 401 (407) after credentials were set is usually the challenge
  // curl answers itself; the answer after it is the final one.
  if (code == 401 && t.serverLoginSet_ && !t.seen401_) {
    t.seen401_ = true;
  } else if (code == 407 && t.proxyLoginSet_ && !t.seen407_) {
    t.seen407_ = true;
  } else {
    t.headersDone_ = true;
  }
  return bytes;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
  Transfer& t = *static_cast<Transfer*>(self);
  const size_t bytes = size * count;
  if (t.Unread()) {
    t.paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  t.pending_.assign(data, data + bytes);
  t.offset_ = 0;
  t.headersDone_ = true;
  t.lastActivity_ = Clock::now();
  return bytes;
}

int Transfer::OnProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
  Transfer& t = *static_cast<Transfer*>(self);
  if (dlNow + ulNow != t.progress_) {
    // The answer's clock starts once the request has gone out whole.
    if (ulNow != t.uploaded_) t.sent_ = Clock::now();
    t.uploaded_ = ulNow;
    t.progress_ = dlNow + ulNow;
    t.lastActivity_ = Clock::now();
  }
  return 0;
}

int Transfer::OnConnected(void* self, char*, char*, int, int) {
  Transfer& t = *static_cast<Transfer*>(self);
  t.connected_ = true;
  t.lastActivity_ = t.sent_ = Clock::now();
  return CURL_PREREQFUNC_OK;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
