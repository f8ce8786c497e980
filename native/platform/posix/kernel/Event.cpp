// CreateEventW, OpenEventW, SetEvent and ResetEvent over the handle table.
#include "Event.h"

#include <memory>
#include <new>
#include <string>

#include "../base/ErrnoMapping.h"
#include "EventObject.h"
#include "NamedEvent.h"
#include "ObjectNamespace.h"

using namespace quorvane::posix;

namespace {

// An unnamed event: its word lives with the object, reached by this process only.
class PrivateEventStorage final : public EventStorage {
 public:
  PrivateEventStorage(bool manualReset, bool initialState) : word_(initialState ? 1u : 0u), manual_(manualReset) {}
  std::atomic<uint32_t>* Word() override { return &word_; }
  bool ManualReset() const override { return manual_; }
  bool ProcessShared() const override { return false; }

 private:
  std::atomic<uint32_t> word_;
  const bool manual_;
};

bool HasName(LPCWSTR name) { return name != nullptr && name[0] != 0; }

// Events' reading of the generic rights, as Windows maps them.
constexpr GenericMapping kEventMapping{STANDARD_RIGHTS_READ | EVENT_QUERY_STATE, STANDARD_RIGHTS_WRITE | EVENT_MODIFY_STATE,
                                       STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, EVENT_ALL_ACCESS};

HANDLE Register(std::unique_ptr<EventStorage> storage, DWORD access) {
  if (!storage) return nullptr;
  HANDLE handle = RegisterHandle(std::make_shared<Event>(std::move(storage)), access);
  if (handle == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return handle;
}

// Event creation allocates; running out of memory is an ordinary failure here.
template <typename Body>
HANDLE NoThrow(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  return NoThrow([&]() -> HANDLE {
    SetLastError(ERROR_SUCCESS);
    if (!HasName(lpName))
      return Register(std::make_unique<PrivateEventStorage>(bManualReset != FALSE, bInitialState != FALSE),
                      EVENT_ALL_ACCESS);
    std::string name;
    if (!ObjectNameOf(lpName, &name)) return nullptr;
    bool created = false;
    auto storage = OpenNamedEvent(name, NamedEventOpen::CreateOrOpen, bManualReset != FALSE, bInitialState != FALSE,
                                  &created);
    HANDLE handle = Register(std::move(storage), EVENT_ALL_ACCESS);
    // As on Windows, a caller can tell that it opened an existing event.
    if (handle != nullptr) SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
  });
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName) {
  return NoThrow([&]() -> HANDLE {
    if (!HasName(lpName)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::string name;
    if (!ObjectNameOf(lpName, &name)) return nullptr;
    bool created = false;
    auto storage = OpenNamedEvent(name, NamedEventOpen::OpenExisting, false, false, &created);
    return Register(std::move(storage), GrantedAccess(dwDesiredAccess, kEventMapping));
  });
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = ReferenceHandle<Event>(hEvent, EVENT_MODIFY_STATE);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = ReferenceHandle<Event>(hEvent, EVENT_MODIFY_STATE);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}
