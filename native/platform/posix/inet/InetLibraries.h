// libcurl and libproxy, opened on first use: only WinInet's calls need them.
// InternetOpenW fails (ERROR_INTERNET_INTERNAL_ERROR) without libcurl, so
// code that runs on a WinInet handle calls through Curl(); without libproxy
// the desktop's proxy settings are unknown and only the environment's apply.
#pragma once

#include <curl/curl.h>
#include <proxy.h>

#include "../loader/DynamicSymbols.h"

#define QV_CURL_FUNCTIONS(X)                                                                                   \
  X(curl_, global_init) X(curl_, free) X(curl_, easy_init) X(curl_, easy_cleanup) X(curl_, easy_setopt)        \
  X(curl_, easy_getinfo) X(curl_, easy_pause) X(curl_, multi_init) X(curl_, multi_cleanup)                     \
  X(curl_, multi_setopt) X(curl_, multi_add_handle) X(curl_, multi_remove_handle) X(curl_, multi_perform)      \
  X(curl_, multi_poll) X(curl_, multi_info_read) X(curl_, share_init) X(curl_, share_cleanup)                  \
  X(curl_, share_setopt) X(curl_, slist_append) X(curl_, slist_free_all) X(curl_, url) X(curl_, url_cleanup)   \
  X(curl_, url_get) X(curl_, url_set)

#define QV_PROXY_FUNCTIONS(X) \
  X(px_, proxy_factory_new) X(px_, proxy_factory_get_proxies) X(px_, proxy_factory_free_proxies)

namespace quorvane {
namespace posix {
namespace inet {

// Get() is null when libcurl.so.4, or one of these functions, is missing.
QV_DYNAMIC_TABLE(CurlLibrary, QV_CURL_FUNCTIONS);

// The table, once InternetOpenW (or another entry point) has found it.
inline const CurlLibrary& Curl() { return *CurlLibrary::Get(); }

// Get() is null when libproxy.so.1, or one of these functions, is missing.
QV_DYNAMIC_TABLE(ProxyLibrary, QV_PROXY_FUNCTIONS);

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
