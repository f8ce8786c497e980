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

// A multi handle for one transfer at a time, from a process-wide pool, and
// its return (empty). Multi handles are kept rather than cleaned up because
// curl_multi_cleanup sets SIGPIPE to SIG_IGN and back through a handle of
// its own that ignores CURLOPT_NOSIGNAL: two threads doing that at once can
// leave the JVM's SIGPIPE handler replaced for good.
CURLM* AcquireMultiHandle();
void ReleaseMultiHandle(CURLM* multi);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
