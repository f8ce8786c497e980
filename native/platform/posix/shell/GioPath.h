// The path to hand GIO for the file a path names.
#pragma once

#include <string>

namespace quorvane {
namespace posix {

// GIO reads "lnk/.." as text and drops both, where the kernel goes through
// the link first. This is the path with its folder resolved by the kernel
// and its last name as it is (a link stays a link); empty, errno set, when
// the folder cannot be resolved.
std::string GioPath(const std::string& path);

}  // namespace posix
}  // namespace quorvane
