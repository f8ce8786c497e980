// The process-wide handle table behind KernelObject.h. Values are multiples
// of 4 (as on Windows) over the positive int range, so they never collide
// with the pseudo-handles (-1, -2, ...) and a value comes back only after
// about 536 million handles.
#include "KernelObject.h"

#include <utility>

#include "NumberedTable.h"

namespace quorvane {
namespace posix {
namespace {

// One handle: its object and the rights it was opened with.
struct Entry {
  std::shared_ptr<KernelObject> object;
  DWORD access = 0;
};

// Never destroyed: handles may be closed from static destructors (the
// logger's mutex) after other statics are gone.
NumberedTable<Entry>& Table() {
  static auto* table = new NumberedTable<Entry>(4, 4, 0x7FFFFFFCu);
  return *table;
}

intptr_t Raw(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object, DWORD access) {
  if (!object) return nullptr;
  return reinterpret_cast<HANDLE>(Table().Add(Entry{std::move(object), access}));
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, DWORD* access) {
  Entry entry;
  Table().Get(Raw(handle), &entry);
  *access = entry.access;
  return entry.object;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  DWORD access;
  return LookupHandle(handle, &access);
}

bool UnregisterHandle(HANDLE handle) {
  Entry entry;
  if (!Table().Take(Raw(handle), &entry)) return false;
  // The object's destructor (which may unmap memory or close descriptors)
  // runs here, outside the table's lock.
  entry.object->HandleClosed();
  return true;
}

}  // namespace posix
}  // namespace quorvane
