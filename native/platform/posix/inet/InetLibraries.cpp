#include "InetLibraries.h"

namespace quorvane {
namespace posix {
namespace inet {

QV_DYNAMIC_LIBRARY(CurlLibrary, "libcurl.so.4", QV_CURL_FUNCTIONS)
QV_DYNAMIC_LIBRARY(ProxyLibrary, "libproxy.so.1", QV_PROXY_FUNCTIONS)

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
