// One lock per kind of shared data, as the share interface asks. DNS and
// TLS sessions are shared by every transfer; live connections are not,
// since curl does not support one connection cache used by several threads
// at once: each pooled multi handle keeps its own, and the pool hands the
// most recently returned one out first, so a thread's next call finds the
// connection its last call left open. The pool keeps few handles, each
// with few connections: a burst of threads would otherwise leave a handle
// each, with its connection and wake-up socket pair, open for good.
#include "CurlShare.h"

#include <mutex>
#include <vector>

#include "InetLibraries.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

std::mutex g_locks[CURL_LOCK_DATA_LAST];

void Lock(CURL*, curl_lock_data data, curl_lock_access, void*) { g_locks[data].lock(); }
void Unlock(CURL*, curl_lock_data data, void*) { g_locks[data].unlock(); }

CURLSH* MakeShare() {
  if (CurlLibrary::Get() == nullptr || Curl().global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
  CURLSH* share = Curl().share_init();
  if (share == nullptr) return nullptr;
  const bool ok = Curl().share_setopt(share, CURLSHOPT_LOCKFUNC, Lock) == CURLSHE_OK &&
                  Curl().share_setopt(share, CURLSHOPT_UNLOCKFUNC, Unlock) == CURLSHE_OK &&
                  Curl().share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
                  Curl().share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
  if (!ok) {
    Curl().share_cleanup(share);
    return nullptr;
  }
  return share;
}

constexpr size_t kIdleMultiHandles = 4;
constexpr long kConnectionsPerHandle = 2;

struct MultiPool {
  std::mutex mutex;
  std::vector<CURLM*> idle;
};

// Never destroyed, like the share: transfers may end during exit.
MultiPool& Pool() {
  static MultiPool* pool = new MultiPool;
  return *pool;
}

}  // namespace

CURLM* AcquireMultiHandle() {
  MultiPool& pool = Pool();
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (!pool.idle.empty()) {
      CURLM* multi = pool.idle.back();
      pool.idle.pop_back();
      return multi;
    }
  }
  CURLM* multi = Curl().multi_init();
  if (multi != nullptr && Curl().multi_setopt(multi, CURLMOPT_MAXCONNECTS, kConnectionsPerHandle) != CURLM_OK) {
    Curl().multi_cleanup(multi);
    return nullptr;
  }
  return multi;
}

void ReleaseMultiHandle(CURLM* multi) {
  if (multi == nullptr) return;
  MultiPool& pool = Pool();
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (pool.idle.size() < kIdleMultiHandles) {
      pool.idle.push_back(multi);
      return;
    }
  }
  // Closes its connections. One at a time: a cleanup may set SIGPIPE aside
  // and back, and two interleaved would leave the JVM's handler replaced.
  static std::mutex cleanups;
  std::lock_guard<std::mutex> lock(cleanups);
  Curl().multi_cleanup(multi);
}

CURLSH* SharedCurlState() {
  static std::once_flag once;
  static CURLSH* share = nullptr;
  std::call_once(once, [] { share = MakeShare(); });
  return share;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
