// The debugger output of the Linux build is the system log: each string is
// one message at LOG_USER / LOG_DEBUG (journalctl -p debug, or the syslog
// daemon's debug file), a trailing line break dropped. The process's syslog
// identity (openlog) is left as the host set it.
#pragma once

#include "../base/WinTypes.h"

void OutputDebugStringW(LPCWSTR lpOutputString);
