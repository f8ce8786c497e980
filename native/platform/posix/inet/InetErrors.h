// libcurl's failures as the ERROR_INTERNET_* codes WinInet gives for the
// same events.
#pragma once

#include <curl/curl.h>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

// `verifyResult` is CURLINFO_SSL_VERIFYRESULT (OpenSSL's X509_V_* code),
// which tells an unknown authority from an expired certificate or a name
// mismatch (which curl finds itself, leaving X509_V_ERR_UNSPECIFIED).
DWORD WinInetErrorFromCurl(CURLcode code, long verifyResult);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
