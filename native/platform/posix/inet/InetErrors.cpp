#include "InetErrors.h"

#include "WinInetApi.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

constexpr long kX509Ok = 0;
// What curl leaves when its own host-name check failed.
constexpr long kX509Unspecified = 1;
constexpr long kX509CertNotYetValid = 9;
constexpr long kX509CertHasExpired = 10;
constexpr long kX509HostnameMismatch = 62;
constexpr long kX509IpAddressMismatch = 64;

struct Mapping {
  CURLcode curl;
  DWORD winInet;
};

// Sorted by curl's value.
const Mapping kMappings[] = {
    {CURLE_UNSUPPORTED_PROTOCOL, ERROR_INTERNET_INVALID_URL},
    {CURLE_URL_MALFORMAT, ERROR_INTERNET_INVALID_URL},
    {CURLE_COULDNT_RESOLVE_PROXY, ERROR_INTERNET_NAME_NOT_RESOLVED},
    {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
    {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
    {CURLE_WEIRD_SERVER_REPLY, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_RESET},
    {CURLE_OUT_OF_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
    {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
    {CURLE_SSL_CONNECT_ERROR, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_ABORTED_BY_CALLBACK, ERROR_INTERNET_OPERATION_CANCELLED},
    {CURLE_GOT_NOTHING, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {CURLE_SSL_ENGINE_INITFAILED, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_SEND_ERROR, ERROR_INTERNET_CONNECTION_ABORTED},
    {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET},
    {CURLE_SSL_CERTPROBLEM, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_SSL_CIPHER, ERROR_INTERNET_SECURITY_CHANNEL_ERROR},
    {CURLE_SSL_CACERT_BADFILE, ERROR_INTERNET_INVALID_CA},
    {CURLE_PROXY, ERROR_INTERNET_CANNOT_CONNECT},  // a SOCKS proxy that refused
};

}  // namespace

DWORD WinInetErrorFromCurl(CURLcode code, long verifyResult) {
  if (code == CURLE_OK) return ERROR_SUCCESS;
  if (code == CURLE_PEER_FAILED_VERIFICATION) {
    if (verifyResult == kX509Ok || verifyResult == kX509Unspecified || verifyResult == kX509HostnameMismatch || verifyResult == kX509IpAddressMismatch)
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    if (verifyResult == kX509CertNotYetValid || verifyResult == kX509CertHasExpired)
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    return ERROR_INTERNET_INVALID_CA;
  }
  for (const Mapping& mapping : kMappings)
    if (mapping.curl == code) return mapping.winInet;
  return ERROR_INTERNET_INTERNAL_ERROR;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
