#include "GioPath.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>

#include "FileOperation.h"

namespace quorvane {
namespace posix {

std::string GioPath(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return std::string();
  }
  char folder[PATH_MAX];
  if (::realpath(fileop::ParentOf(path).c_str(), folder) == nullptr) return std::string();
  const std::string name = fileop::NameOf(path);
  return name.empty() ? std::string(folder) : fileop::JoinPath(folder, name);  // "/" has no name
}

}  // namespace posix
}  // namespace quorvane
