// libcurl's process-wide state: curl_global_init, run once, the one share
// handle every request uses for resolved addresses and TLS sessions, and
// the pool of multi handles whose connection caches keep connections alive
// between calls. Neither is ever freed (requests may run until exit).
#pragma once

#include <curl/curl.h>

namespace quorvane {
namespace posix {
namespace inet {

// Loads and initialises libcurl on first use; null when it is missing or
// cannot be initialised. Every other use of curl comes after this answered.
CURLSH* SharedCurlState();

// A multi handle for one transfer at a time, from a process-wide pool, and
// its return (empty). A few are kept for reuse; one returned to a full pool
// is cleaned up, never two at once: curl_multi_cleanup may set SIGPIPE to
// SIG_IGN and back, and two threads doing that together could leave the
// JVM's SIGPIPE handler replaced for good. (Its closure handle takes
// CURLOPT_NOSIGNAL from the last transfer added, which every one of ours sets.)
CURLM* AcquireMultiHandle();
void ReleaseMultiHandle(CURLM* multi);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
