// Icon handles and the process's system icon index.
#include "ShellIcon.h"

#include <mutex>
#include <unordered_map>

namespace quorvane {
namespace posix {

DWORD ShellIcon::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HICON CreateShellIcon(std::vector<std::string> names) {
  return RegisterHandle(std::make_shared<ShellIcon>(std::move(names)));
}

std::shared_ptr<const ShellIcon> ShellIconFromHandle(HICON icon) {
  return std::dynamic_pointer_cast<const ShellIcon>(LookupHandle(icon));
}

int SystemIconIndex(const std::string& name) {
  static std::mutex mutex;
  static auto* indexes = new std::unordered_map<std::string, int>();  // never destroyed: used until exit
  std::lock_guard<std::mutex> lock(mutex);
  return indexes->emplace(name, static_cast<int>(indexes->size())).first->second;
}

}  // namespace posix
}  // namespace quorvane

BOOL DestroyIcon(HICON hIcon) {
  if (!quorvane::posix::ShellIconFromHandle(hIcon) || !quorvane::posix::UnregisterHandle(hIcon)) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  return TRUE;
}
