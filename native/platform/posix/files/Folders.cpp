#include "Folders.h"

#include <errno.h>
#include <sys/stat.h>

namespace quorvane {
namespace posix {

int MakeFolders(const std::string& path, mode_t mode) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) == 0) return 0;
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0)
    if (const int error = MakeFolders(path.substr(0, slash), mode)) return error;
  return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST ? 0 : errno;
}

}  // namespace posix
}  // namespace quorvane
