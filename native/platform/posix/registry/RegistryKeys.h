// Key handles: the predefined keys and a table of the handles that
// RegCreateKey* and RegOpenKeyExW hand out. A handle names a store and a key
// id in it, with the rights it was opened with. Values are 2 modulo 4 and
// below 2^31: the kernel's table only hands out multiples of 4, so neither
// table ever takes the other's handle. Thread-safe (one mutex).
#pragma once

#include <cstdint>

#include "RegistryStore.h"

namespace quorvane {
namespace posix {
namespace registry {

struct KeyRef {
  RegistryStore* store = nullptr;
  int64_t id = 0;
  REGSAM access = 0;
  bool classesRoot = false;  // HKEY_CLASSES_ROOT itself: opens fall back to the machine's classes
};

// The key behind a handle: ERROR_INVALID_HANDLE for null, unknown or closed
// handles; a predefined key's root is found (or made) in its store.
LONG Resolve(HKEY key, KeyRef* ref);
// A new handle; null when the table is full.
HKEY Register(const KeyRef& ref);
// False for an unknown handle. Predefined keys are not in the table.
bool Unregister(HKEY key);
bool IsPredefined(HKEY key);

}  // namespace registry
}  // namespace posix
}  // namespace quorvane
