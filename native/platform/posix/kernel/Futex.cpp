// futex(2) for event waits: FUTEX_WAIT_BITSET takes an absolute monotonic
// deadline, so a wait interrupted by a signal resumes with the same end.
#include "Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace quorvane {
namespace posix {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex word is a plain 32-bit value");

FutexResult FutexWait(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec* deadline,
                      bool shared) {
  const int op = FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  if (syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, expected, deadline, nullptr,
              FUTEX_BITSET_MATCH_ANY) == 0)
    return FutexResult::Woken;
  switch (errno) {
    case EAGAIN: return FutexResult::Changed;
    case EINTR: return FutexResult::Woken;
    case ETIMEDOUT: return FutexResult::TimedOut;
    default: return FutexResult::Failed;
  }
}

void FutexWakeAll(std::atomic<uint32_t>* word, bool shared) {
  const int op = FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace posix
}  // namespace quorvane
