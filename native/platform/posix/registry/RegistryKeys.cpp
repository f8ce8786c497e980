// The registry's handle table and the predefined keys.
#include "RegistryKeys.h"

#include <mutex>
#include <unordered_map>

#include "../WinError.h"

namespace quorvane {
namespace posix {
namespace registry {
namespace {

constexpr uint32_t kFirstValue = 0x00000002u;
constexpr uint32_t kStep = 4;
constexpr uint32_t kLastValue = 0x7FFFFFFEu;

class KeyTable {
 public:
  HKEY Register(const KeyRef& ref) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.size() >= (kLastValue - kFirstValue) / kStep + 1) return nullptr;
    for (;;) {
      const uint32_t value = next_;
      next_ = next_ >= kLastValue ? kFirstValue : next_ + kStep;
      if (keys_.emplace(value, ref).second) return reinterpret_cast<HKEY>(static_cast<uintptr_t>(value));
    }
  }
  bool Lookup(HKEY key, KeyRef* ref) {
    uint32_t value;
    if (!ToValue(key, &value)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = keys_.find(value);
    if (it == keys_.end()) return false;
    *ref = it->second;
    return true;
  }
  bool Unregister(HKEY key) {
    uint32_t value;
    if (!ToValue(key, &value)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.erase(value) == 1;
  }

 private:
  static bool ToValue(HKEY key, uint32_t* value) {
    const intptr_t raw = reinterpret_cast<intptr_t>(key);
    if (raw < static_cast<intptr_t>(kFirstValue) || raw > static_cast<intptr_t>(kLastValue) ||
        raw % kStep != kFirstValue % kStep)
      return false;
    *value = static_cast<uint32_t>(raw);
    return true;
  }

  std::mutex mutex_;
  uint32_t next_ = kFirstValue;
  std::unordered_map<uint32_t, KeyRef> keys_;
};

KeyTable& Table() {
  static KeyTable* table = new KeyTable();  // never destroyed: keys may be closed from static destructors
  return *table;
}

LONG Predefined(RegistryStore& store, const char* hive, KeyRef* ref) {
  ref->store = &store;
  ref->access = KEY_ALL_ACCESS;
  return store.Root(hive, &ref->id);
}

}  // namespace

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS;
}

LONG Resolve(HKEY key, KeyRef* ref) {
  *ref = KeyRef();
  if (key == HKEY_CURRENT_USER) return Predefined(RegistryStore::User(), "HKEY_CURRENT_USER", ref);
  if (key == HKEY_LOCAL_MACHINE) return Predefined(RegistryStore::Machine(), "HKEY_LOCAL_MACHINE", ref);
  if (key == HKEY_USERS) return Predefined(RegistryStore::Machine(), "HKEY_USERS", ref);
  if (key == HKEY_CLASSES_ROOT) {
    // The user's classes always exist, as on Windows.
    LONG error = Predefined(RegistryStore::User(), "HKEY_CURRENT_USER", ref);
    if (error != ERROR_SUCCESS) return error;
    const std::vector<Name> classes = {NameOf(L"Software"), NameOf(L"Classes")};
    const int64_t user = ref->id;
    error = ref->store->Open(user, classes, &ref->id);
    bool created;
    if (error == ERROR_FILE_NOT_FOUND) error = ref->store->Create(user, classes, &ref->id, &created);
    ref->classesRoot = true;
    return error;
  }
  return Table().Lookup(key, ref) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

HKEY Register(const KeyRef& ref) { return Table().Register(ref); }

bool Unregister(HKEY key) { return Table().Unregister(key); }

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
