// The event kernel object: one 32-bit state word, in private memory for an
// unnamed event or in a per-user shared mapping for a named one.
//
// State word: bit 0 is "signalled", bits 1-31 count SetEvent calls that
// signalled the event. Every change is a single atomic operation, so a
// process that dies at any point leaves a consistent word, and there is no
// lock that a dead process could keep.
//  - SetEvent sets bit 0 and bumps the count, then wakes every sleeper.
//  - An auto-reset wait succeeds only by clearing bit 0 itself with a
//    compare-and-swap, so one SetEvent releases exactly one waiter in any
//    process; the others see the bit clear and sleep again. Waking them all
//    (not one) means a woken waiter that dies before its compare-and-swap
//    cannot swallow the signal.
//  - A manual-reset wait succeeds when bit 0 is set or the count moved while
//    it slept, so SetEvent followed at once by ResetEvent still releases the
//    threads that were waiting, as on Windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "KernelObject.h"

namespace quorvane {
namespace posix {

// Where an event's word lives; owns that memory (and, for a named event,
// its share of the name).
class EventStorage {
 public:
  virtual ~EventStorage() = default;
  virtual std::atomic<uint32_t>* Word() = 0;
  virtual bool ManualReset() const = 0;
  // Whether other processes reach the word (shared futex).
  virtual bool ProcessShared() const = 0;
};

// Thread-safe: any thread may set, reset or wait at any time.
class Event final : public KernelObject {
 public:
  explicit Event(std::unique_ptr<EventStorage> storage);
  DWORD Wait(DWORD timeoutMs) override;
  void Set();
  void Reset();
  bool ManualReset() const { return manual_; }

 private:
  DWORD WaitAuto(DWORD timeoutMs);
  DWORD WaitManual(DWORD timeoutMs);

  std::unique_ptr<EventStorage> storage_;
  std::atomic<uint32_t>* const word_;
  const bool manual_;
  const bool shared_;
};

}  // namespace posix
}  // namespace quorvane
