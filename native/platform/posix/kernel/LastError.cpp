// The thread's last-error code (GetLastError / SetLastError).
#include "../base/ErrnoMapping.h"

namespace {

thread_local DWORD t_lastError = 0;

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
