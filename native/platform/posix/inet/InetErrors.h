// libcurl's failures as the ERROR_INTERNET_* codes WinInet gives for the
// same events.
#pragma once

#include <curl/curl.h>

#include "../WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

// `verifyResult` is CURLINFO_SSL_VERIFYRESULT (OpenSSL's X509_V_* code),
// which tells an unknown authority from an expired certificate; curl checks
// the host name itself, so a failed verification with X509_V_OK is a name
// mismatch.
DWORD WinInetErrorFromCurl(CURLcode code, long verifyResult);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
