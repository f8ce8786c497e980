// Making a folder and its missing parents, for every posix service that
// keeps files of its own (the registry, the data-protection keys, the shell's
// file operations).
#pragma once

#include <sys/types.h>

#include <string>

namespace quorvane {
namespace posix {

// Makes `path` and each missing parent with `mode`. A path that already
// exists ends the walk with 0, whatever it is: callers that need a folder,
// or one of their own, check it themselves. Otherwise 0 or the errno of the
// step that failed.
int MakeFolders(const std::string& path, mode_t mode);

}  // namespace posix
}  // namespace quorvane
