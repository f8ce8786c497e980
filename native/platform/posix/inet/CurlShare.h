// libcurl's process-wide state: curl_global_init, run once, the one share
// handle every request uses for resolved addresses and TLS sessions, and
// the pool of multi handles whose connection caches keep connections alive
// between calls. Neither is ever freed (requests may run until exit).
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
