// TLS session secrets stay in the process. libcurl appends every session's
// secrets to the file SSLKEYLOGFILE names, readable by whoever can read that
// file; here that happens only when QV_INET_KEYLOG=1 allows it too.
#pragma once

#include <curl/curl.h>

namespace quorvane {
namespace posix {
namespace inet {

// Sets `easy` up so that its TLS connections (server and HTTPS proxy) write
// no secrets; false when that cannot be made sure of while SSLKEYLOGFILE
// asks for them, so the request must not be made.
bool KeepTlsSecrets(CURL* easy);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
