// Icons of the Linux shell services: an HICON is a handle in the kernel
// handle table whose object keeps the icon's theme names (most specific
// first, as GIO's themed icons list them). SHGetFileInfoW makes them,
// Shell_NotifyIconW reads them, DestroyIcon and CloseHandle release them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "../kernel/KernelObject.h"
#include "ShellApi.h"

#ifndef ERROR_INVALID_CURSOR_HANDLE
#  define ERROR_INVALID_CURSOR_HANDLE 1402L
#endif

namespace quorvane {
namespace posix {

// Immutable, so thread-safe.
class ShellIcon final : public KernelObject {
 public:
  explicit ShellIcon(std::vector<std::string> names) : names_(std::move(names)) {}
  // Icons cannot be waited on (WAIT_FAILED, ERROR_INVALID_HANDLE), as on Windows.
  DWORD Wait(DWORD) override;
  const std::vector<std::string>& Names() const { return names_; }

 private:
  const std::vector<std::string> names_;
};

// Null when the table is full.
HICON CreateShellIcon(std::vector<std::string> names);
// The icon behind `icon`, null for anything else.
std::shared_ptr<const ShellIcon> ShellIconFromHandle(HICON icon);
// The system image list index of a theme icon name: the same name gets the
// same index for the life of the process.
int SystemIconIndex(const std::string& name);

}  // namespace posix
}  // namespace quorvane
