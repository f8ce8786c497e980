#include "GioPath.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>

namespace quorvane {
namespace posix {

std::string GioPath(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return std::string();
  }
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  const size_t slash = path.rfind('/', end - 1);
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path.substr(0, end) : path.substr(slash + 1, end - slash - 1);
  char buffer[PATH_MAX];
  if (::realpath(folder.c_str(), buffer) == nullptr) return std::string();
  const std::string resolved = buffer;
  if (name.empty()) return resolved;  // "/"
  return resolved == "/" ? "/" + name : resolved + "/" + name;
}

}  // namespace posix
}  // namespace quorvane
