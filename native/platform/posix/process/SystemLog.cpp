#include "SystemLog.h"

#include <syslog.h>

#include <mutex>
#include <set>

namespace quorvane {
namespace posix {

namespace {

constexpr size_t kMaxLines = 64;  // past that, nothing more is remembered or logged

// Never destroyed: calls may come while the process exits.
struct Logged {
  std::mutex mutex;
  std::set<std::string> lines;
};

}  // namespace

void LogWarningOnce(const std::string& line) {
  static Logged* const logged = new Logged();
  {
    std::lock_guard<std::mutex> lock(logged->mutex);
    if (logged->lines.size() >= kMaxLines || !logged->lines.insert(line).second) return;
  }
  syslog(LOG_USER | LOG_WARNING, "quorvane: %s", line.c_str());
}

}  // namespace posix
}  // namespace quorvane
