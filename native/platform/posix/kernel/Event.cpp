// CreateEventW, OpenEventW, SetEvent and ResetEvent over the handle table.
#include "Event.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "../ErrnoMapping.h"
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
// Object names are limited to MAX_PATH characters, as on Windows.
bool NameTooLong(LPCWSTR name) {
  if (std::wcslen(name) <= MAX_PATH) return false;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return true;
}

HANDLE Register(std::unique_ptr<EventStorage> storage) {
  if (!storage) return nullptr;
  HANDLE handle = RegisterHandle(std::make_shared<Event>(std::move(storage)));
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
      return Register(std::make_unique<PrivateEventStorage>(bManualReset != FALSE, bInitialState != FALSE));
    if (NameTooLong(lpName)) return nullptr;
    bool created = false;
    auto storage = OpenNamedEvent(Utf8FromWideText(lpName), NamedEventOpen::CreateOrOpen, bManualReset != FALSE,
                                  bInitialState != FALSE, &created);
    if (!storage) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    HANDLE handle = Register(std::move(storage));
    // As on Windows, a caller can tell that it opened an existing event.
    if (handle != nullptr) SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
  });
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR lpName) {
  return NoThrow([&]() -> HANDLE {
    if (!HasName(lpName)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (NameTooLong(lpName)) return nullptr;
    bool created = false;
    auto storage = OpenNamedEvent(Utf8FromWideText(lpName), NamedEventOpen::OpenExisting, false, false, &created);
    if (!storage) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    return Register(std::move(storage));
  });
}

BOOL SetEvent(HANDLE hEvent) {
  auto event = LookupEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto event = LookupEvent(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}
