// Warnings of the Linux build to the system log (LOG_USER / LOG_WARNING,
// tagged "quorvane:"), each distinct line once per process, so a refusal
// that every call meets is told, with its reason, without flooding the log.
// The process's syslog identity (openlog) is left as the host set it.
#pragma once

#include <string>

namespace quorvane {
namespace posix {

void LogWarningOnce(const std::string& line);

}  // namespace posix
}  // namespace quorvane
