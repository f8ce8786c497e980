#include "InetHandles.h"

#include <unordered_map>

#include "../base/ErrnoMapping.h"

namespace quorvane {
namespace posix {
namespace inet {

namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<HINTERNET, std::shared_ptr<InetObject>> objects;
};

// Never destroyed: a request may still be closed during exit.
Table& Handles() {
  static Table* table = new Table;
  return *table;
}

// The live object of `handle`, taken out of the table with `remove`; null
// with ERROR_INVALID_HANDLE when there is none.
std::shared_ptr<InetObject> Lookup(HINTERNET handle, bool remove) {
  Table& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(handle);
  if (found == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::shared_ptr<InetObject> object = found->second;
  if (remove) table.objects.erase(found);
  return object;
}

}  // namespace

Timeouts InetObject::GetTimeouts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeouts_;
}

bool InetObject::SetTimeoutOption(DWORD option, DWORD ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  return SetTimeout(timeouts_, option, ms);
}

HINTERNET RegisterHandle(std::shared_ptr<InetObject> object) {
  HINTERNET handle = object.get();
  Table& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<InetObject> FindAnyHandle(HINTERNET handle) { return Lookup(handle, false); }

std::shared_ptr<InetObject> FindHandle(HINTERNET handle, InetObject::Kind kind) {
  std::shared_ptr<InetObject> object = FindAnyHandle(handle);
  if (object && object->kind() != kind) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return object;
}

bool CloseInetHandle(HINTERNET handle) {
  // The object (and a request's transfer) goes here, outside the table's
  // lock, unless another call is still using it.
  return Lookup(handle, true) != nullptr;
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
