#include "Folders.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

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

int MakeOwnFolders(const std::string& path, mode_t mode, std::string& refused) {
  std::string at = path;
  std::vector<std::string> missing;  // last part first
  UniqueFd folder;
  while (!folder.Valid()) {
    folder.Reset(OpenRetrying(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) break;
    if (errno != ENOENT) return errno;
    const size_t slash = at.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == at.size()) return ENOENT;
    const std::string leaf = at.substr(slash + 1);
    if (leaf == "." || leaf == "..") return ENOENT;
    missing.push_back(leaf);
    at = slash == 0 ? "/" : at.substr(0, slash);
  }
  for (auto leaf = missing.rbegin(); leaf != missing.rend(); ++leaf) {
    struct stat st;
    if (::fstat(folder.Get(), &st) != 0) return errno;
    if (st.st_uid != ::geteuid()) {
      refused = at;
      return EPERM;
    }
    if (::mkdirat(folder.Get(), leaf->c_str(), mode) != 0 && errno != EEXIST) return errno;
    UniqueFd next(::openat(folder.Get(), leaf->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) return errno;
    folder = std::move(next);
    at += (at == "/" ? "" : "/") + *leaf;
  }
  return 0;
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
