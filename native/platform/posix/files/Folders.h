// Making a folder and its missing parents, for every posix service that
// keeps files of its own (the registry, the data-protection keys, the shell's
// file operations), and removing a name through its folder.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "../kernel/UniqueFd.h"

namespace quorvane {
namespace posix {

// Makes `path` and each missing parent with `mode`. A path that already
// exists ends the walk with 0, whatever it is: callers that need a folder,
// or one of their own, check it themselves. Otherwise 0 or the errno of the
// step that failed.
int MakeFolders(const std::string& path, mode_t mode);

// As MakeFolders, for a store of the caller's own: folders are made only
// when the nearest one that exists belongs to the caller (effective uid), so
// root with another user's HOME never plants folders of its own there. The
// new ones are made and entered through descriptors, without following a
// link. 0 (also when `path` exists: its checks are the caller's), EPERM with
// `refused` naming the folder that belongs to another user, or the errno of
// the step that failed.
int MakeOwnFolders(const std::string& path, mode_t mode, std::string& refused);

// A name kept as the folder that holds it, open, and its last part, so that
// removing it later never resolves the path again: a folder on the way
// swapped for a link in between cannot send the removal elsewhere.
class NameInFolder {
 public:
  NameInFolder() = default;
  // Invalid when the path has no last part (a root) or its folder cannot be
  // opened; the folders on the way are followed as the path means them.
  static NameInFolder Of(const std::string& path);
  bool Valid() const { return folder_ != nullptr; }
  // A path to the name through the open folder (/proc/self/fd/N/leaf), for
  // calls that take a path: it resolves in that folder whatever happens to
  // the folders on the way.
  std::string Path() const;
  // Removes the name while it still names the file (device, inode), a
  // folder only when empty; false when it names another or none.
  bool RemoveIfStill(dev_t device, ino_t inode, bool isFolder) const;

 private:
  std::shared_ptr<UniqueFd> folder_;
  std::string leaf_;
};

}  // namespace posix
}  // namespace quorvane
