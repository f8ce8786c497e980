// Monotonic deadlines for the kernel objects' time-outs, and the tick count.
#pragma once

#include <time.h>

#include <cstdint>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {

// A point on CLOCK_MONOTONIC at which a wait of `timeoutMs` ends; INFINITE
// gives a deadline that never comes.
class Deadline {
 public:
  explicit Deadline(DWORD timeoutMs);
  bool Infinite() const { return infinite_; }
  bool Passed() const;
  // The absolute CLOCK_MONOTONIC time, for FUTEX_WAIT_BITSET; null when infinite.
  const struct timespec* Absolute() const { return infinite_ ? nullptr : &at_; }

 private:
  bool infinite_;
  struct timespec at_ {};
};

// Sleeps until the deadline (retrying after signals); never returns for an
// infinite one.
void SleepUntil(const Deadline& deadline);

// Milliseconds since boot, suspended time included, as GetTickCount counts.
uint64_t TickCount64();

}  // namespace posix
}  // namespace quorvane
