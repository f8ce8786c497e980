// The two futex operations the events are built on. `shared` selects a
// futex that other processes mapping the same memory can reach.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

namespace quorvane {
namespace posix {

enum class FutexResult { Woken, Changed, TimedOut, Failed };

// Sleeps while *word == expected, until woken or the absolute CLOCK_MONOTONIC
// deadline (null: no limit). Woken also covers signals and spurious returns.
FutexResult FutexWait(std::atomic<uint32_t>* word, uint32_t expected, const struct timespec* deadline,
                      bool shared);
// Wakes every sleeper on the word.
void FutexWakeAll(std::atomic<uint32_t>* word, bool shared);

}  // namespace posix
}  // namespace quorvane
