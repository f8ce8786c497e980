// A thread-safe map from handle values to entries, for the tables that hand
// out handles (kernel objects, registry keys). Values run first, first +
// step, ... last from a counter that only moves forward, so a closed value
// comes back only after the counter has gone round the whole range and a
// stale copy of a handle fails instead of reaching a newer entry.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace quorvane {
namespace posix {

template <typename Entry>
class NumberedTable {
 public:
  NumberedTable(uint32_t first, uint32_t step, uint32_t last) : first_(first), step_(step), last_(last), next_(first) {}

  // The value given to `entry`; 0 when every value is in use.
  uintptr_t Add(Entry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() >= (last_ - first_) / step_ + 1) return 0;
    for (;;) {
      const uint32_t value = next_;
      next_ = next_ >= last_ ? first_ : next_ + step_;
      if (entries_.emplace(value, entry).second) return value;
    }
  }

  // A copy of the entry of `raw`; false when no entry has that value.
  bool Get(intptr_t raw, Entry* entry) {
    uint32_t value;
    if (!ToValue(raw, &value)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(value);
    if (it == entries_.end()) return false;
    *entry = it->second;
    return true;
  }

  // Removes the entry of `raw`, handing it over so that the caller can let
  // it go outside the table's lock.
  bool Take(intptr_t raw, Entry* entry) {
    uint32_t value;
    if (!ToValue(raw, &value)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(value);
    if (it == entries_.end()) return false;
    *entry = std::move(it->second);
    entries_.erase(it);
    return true;
  }

 private:
  bool ToValue(intptr_t raw, uint32_t* value) const {
    if (raw < static_cast<intptr_t>(first_) || raw > static_cast<intptr_t>(last_) || raw % step_ != first_ % step_)
      return false;
    *value = static_cast<uint32_t>(raw);
    return true;
  }

  const uint32_t first_, step_, last_;
  std::mutex mutex_;
  uint32_t next_;
  std::unordered_map<uint32_t, Entry> entries_;
};

}  // namespace posix
}  // namespace quorvane
