// The process-wide handle table behind KernelObject.h.
//
// Values are multiples of 4 (as on Windows) handed out from a counter that
// only moves forward; a closed value comes back only after the counter has
// gone round the whole positive int range (about 536 million handles), so a
// stale copy of a handle fails instead of reaching a newer object. Values stay
// positive so they never collide with the pseudo-handles (-1, -2, ...).
#include "KernelObject.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace quorvane {
namespace posix {
namespace {

constexpr uint32_t kFirstValue = 4;
constexpr uint32_t kStep = 4;
constexpr uint32_t kLastValue = 0x7FFFFFFCu;

// One handle: its object and the rights it was opened with.
struct Entry {
  std::shared_ptr<KernelObject> object;
  DWORD access;
};

class HandleTable {
 public:
  HANDLE Register(std::shared_ptr<KernelObject> object, DWORD access) {
    if (!object) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    // Every positive value in use: the process has run out of handles.
    if (objects_.size() >= (kLastValue - kFirstValue) / kStep + 1) return nullptr;
    for (;;) {
      const uint32_t value = next_;
      next_ = next_ >= kLastValue ? kFirstValue : next_ + kStep;
      if (objects_.emplace(value, Entry{object, access}).second) return ToHandle(value);
    }
  }

  std::shared_ptr<KernelObject> Lookup(HANDLE handle, DWORD* access) {
    *access = 0;
    uint32_t value;
    if (!ToValue(handle, &value)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(value);
    if (it == objects_.end()) return nullptr;
    *access = it->second.access;
    return it->second.object;
  }

  bool Unregister(HANDLE handle) {
    uint32_t value;
    if (!ToValue(handle, &value)) return false;
    std::shared_ptr<KernelObject> released;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = objects_.find(value);
      if (it == objects_.end()) return false;
      released = std::move(it->second.object);
      objects_.erase(it);
    }
    // The object's destructor (which may unmap memory or close descriptors)
    // runs here, outside the lock.
    released->HandleClosed();
    return true;
  }

 private:
  static HANDLE ToHandle(uint32_t value) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  }
  static bool ToValue(HANDLE handle, uint32_t* value) {
    const intptr_t raw = reinterpret_cast<intptr_t>(handle);
    if (raw < static_cast<intptr_t>(kFirstValue) || raw > static_cast<intptr_t>(kLastValue) ||
        raw % kStep != 0)
      return false;
    *value = static_cast<uint32_t>(raw);
    return true;
  }

  std::mutex mutex_;
  uint32_t next_ = kFirstValue;
  std::unordered_map<uint32_t, Entry> objects_;
};

// Never destroyed: handles may be closed from static destructors (the
// logger's mutex) after other statics are gone.
HandleTable& Table() {
  static HandleTable* table = new HandleTable();
  return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object, DWORD access) {
  return Table().Register(std::move(object), access);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  DWORD access;
  return Table().Lookup(handle, &access);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, DWORD* access) { return Table().Lookup(handle, access); }

bool UnregisterHandle(HANDLE handle) { return Table().Unregister(handle); }

}  // namespace posix
}  // namespace quorvane
