#include "Folders.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

NameInFolder NameInFolder::Of(const std::string& path) {
  const size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return NameInFolder();
  const size_t slash = path.find_last_of('/', end);
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  NameInFolder name;
  name.leaf_ = path.substr(start, end + 1 - start);
  if (name.leaf_ == "." || name.leaf_ == "..") return NameInFolder();
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = OpenRetrying(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return NameInFolder();
  name.folder_ = std::make_shared<UniqueFd>(fd);
  return name;
}

std::string NameInFolder::Path() const {
  return folder_ ? DescriptorPath(folder_->Get()) + "/" + leaf_ : std::string();
}

bool NameInFolder::RemoveIfStill(dev_t device, ino_t inode, bool isFolder) const {
  struct stat st;
  if (!folder_ || ::fstatat(folder_->Get(), leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != device ||
      st.st_ino != inode)
    return false;
  return ::unlinkat(folder_->Get(), leaf_.c_str(), isFolder ? AT_REMOVEDIR : 0) == 0;
}

}  // namespace posix
}  // namespace quorvane
