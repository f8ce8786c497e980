// The registry's handle table and the predefined keys.
#include "RegistryKeys.h"

#include "../base/WinError.h"
#include "../kernel/NumberedTable.h"

namespace quorvane {
namespace posix {
namespace registry {
namespace {

// Key values are 2 more than a multiple of 4, so a key is never taken for a
// kernel handle (multiples of 4) or a predefined key. Never destroyed: keys
// may be closed from static destructors.
NumberedTable<KeyRef>& Table() {
  static auto* table = new NumberedTable<KeyRef>(0x00000002u, 4, 0x7FFFFFFEu);
  return *table;
}

LONG Predefined(RegistryStore& store, const char* hive, KeyRef* ref) {
  ref->store = &store;
  ref->access = KEY_ALL_ACCESS;
  return store.Root(hive, &ref->id);
}

}  // namespace

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS ||
         key == HKEY_CURRENT_CONFIG;
}

LONG Resolve(HKEY key, KeyRef* ref) {
  *ref = KeyRef();
  if (key == HKEY_CURRENT_USER) return Predefined(RegistryStore::User(), "HKEY_CURRENT_USER", ref);
  if (key == HKEY_LOCAL_MACHINE) return Predefined(RegistryStore::Machine(), "HKEY_LOCAL_MACHINE", ref);
  if (key == HKEY_USERS) return Predefined(RegistryStore::Machine(), "HKEY_USERS", ref);
  if (key == HKEY_CURRENT_CONFIG) return Predefined(RegistryStore::Machine(), "HKEY_CURRENT_CONFIG", ref);
  if (key == HKEY_CLASSES_ROOT) {
    // The user's classes always exist, as on Windows: made by the first
    // write under them.
    LONG error = Predefined(RegistryStore::User(), "HKEY_CURRENT_USER", ref);
    ref->id = RegistryStore::kClasses;
    ref->classesRoot = true;
    return error;
  }
  return Table().Get(reinterpret_cast<intptr_t>(key), ref) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

HKEY Register(const KeyRef& ref) { return reinterpret_cast<HKEY>(Table().Add(ref)); }

bool Unregister(HKEY key) {
  KeyRef ref;
  if (!Table().Take(reinterpret_cast<intptr_t>(key), &ref)) return false;
  ref.store->Forget(reinterpret_cast<uintptr_t>(key));  // the value may name a new handle next
  return true;
}

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
