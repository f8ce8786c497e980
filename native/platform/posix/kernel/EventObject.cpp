// Waiting, setting and resetting on an event's state word.
#include "EventObject.h"

#include "Clock.h"
#include "Futex.h"

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kSignalled = 1u;
constexpr uint32_t kSetCountUnit = 2u;

}  // namespace

Event::Event(std::unique_ptr<EventStorage> storage)
    : storage_(std::move(storage)),
      word_(storage_->Word()),
      manual_(storage_->ManualReset()),
      shared_(storage_->ProcessShared()) {}

void Event::Set() {
  uint32_t state = word_->load(std::memory_order_relaxed);
  do {
    // Already signalled: every sleeper was woken when the bit was set.
    if (state & kSignalled) return;
  } while (!word_->compare_exchange_weak(state, (state + kSetCountUnit) | kSignalled,
                                         std::memory_order_release, std::memory_order_relaxed));
  FutexWakeAll(word_, shared_);
}

void Event::Reset() { word_->fetch_and(~kSignalled, std::memory_order_relaxed); }

DWORD Event::Wait(DWORD timeoutMs) { return manual_ ? WaitManual(timeoutMs) : WaitAuto(timeoutMs); }

DWORD Event::WaitAuto(DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  uint32_t state = word_->load(std::memory_order_acquire);
  for (;;) {
    if (state & kSignalled) {
      if (word_->compare_exchange_weak(state, state & ~kSignalled, std::memory_order_acquire,
                                       std::memory_order_acquire))
        return WAIT_OBJECT_0;
      continue;  // `state` now holds the fresh value
    }
    if (timeoutMs == 0 || deadline.Passed()) return WAIT_TIMEOUT;
    if (FutexWait(word_, state, deadline.Absolute(), shared_) == FutexResult::Failed) return WAIT_FAILED;
    state = word_->load(std::memory_order_acquire);
  }
}

DWORD Event::WaitManual(DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  const uint32_t start = word_->load(std::memory_order_acquire);
  uint32_t state = start;
  for (;;) {
    if ((state & kSignalled) || (state & ~kSignalled) != (start & ~kSignalled)) return WAIT_OBJECT_0;
    if (timeoutMs == 0 || deadline.Passed()) return WAIT_TIMEOUT;
    if (FutexWait(word_, state, deadline.Absolute(), shared_) == FutexResult::Failed) return WAIT_FAILED;
    state = word_->load(std::memory_order_acquire);
  }
}

}  // namespace posix
}  // namespace quorvane
