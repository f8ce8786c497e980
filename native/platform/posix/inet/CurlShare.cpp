// One lock per kind of shared data, as the share interface asks: the
// connection cache, DNS and TLS sessions are locked independently.
#include "CurlShare.h"

#include <mutex>

namespace quorvane {
namespace posix {
namespace inet {

namespace {

std::mutex g_locks[CURL_LOCK_DATA_LAST];

void Lock(CURL*, curl_lock_data data, curl_lock_access, void*) { g_locks[data].lock(); }
void Unlock(CURL*, curl_lock_data data, void*) { g_locks[data].unlock(); }

CURLSH* MakeShare() {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
  CURLSH* share = curl_share_init();
  if (share == nullptr) return nullptr;
  const bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, Lock) == CURLSHE_OK &&
                  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, Unlock) == CURLSHE_OK &&
                  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) == CURLSHE_OK &&
                  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
                  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
  if (!ok) {
    curl_share_cleanup(share);
    return nullptr;
  }
  return share;
}

}  // namespace

CURLSH* SharedCurlState() {
  static std::once_flag once;
  static CURLSH* share = nullptr;
  std::call_once(once, [] { share = MakeShare(); });
  return share;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
