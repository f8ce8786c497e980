// libcurl's process-wide state: curl_global_init, run once, and the one
// share handle every request uses, so that a second request to a server
// finds the kept-alive connection, the resolved address and the TLS session
// of the first. The share is never freed (requests may run until exit).
#pragma once

#include <curl/curl.h>

namespace quorvane {
namespace posix {
namespace inet {

// Initialises libcurl on first use; null when it cannot be initialised.
CURLSH* SharedCurlState();

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
