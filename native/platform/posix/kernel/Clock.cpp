// Monotonic deadlines and the boot-time tick count.
#include "Clock.h"

#include <cerrno>

namespace quorvane {
namespace posix {

Deadline::Deadline(DWORD timeoutMs) : infinite_(timeoutMs == INFINITE) {
  if (infinite_) return;
  clock_gettime(CLOCK_MONOTONIC, &at_);
  at_.tv_sec += timeoutMs / 1000;
  at_.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (at_.tv_nsec >= 1000000000L) {
    at_.tv_sec += 1;
    at_.tv_nsec -= 1000000000L;
  }
}

bool Deadline::Passed() const {
  if (infinite_) return false;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > at_.tv_sec || (now.tv_sec == at_.tv_sec && now.tv_nsec >= at_.tv_nsec);
}

void SleepUntil(const Deadline& deadline) {
  if (deadline.Infinite()) {
    // One day at a time, for ever: the caller asked to wait without limit.
    for (;;) {
      struct timespec day = {86400, 0};
      while (nanosleep(&day, &day) != 0 && errno == EINTR) {
      }
    }
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, deadline.Absolute(), nullptr) == EINTR) {
  }
}

uint64_t TickCount64() {
  struct timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace posix
}  // namespace quorvane
