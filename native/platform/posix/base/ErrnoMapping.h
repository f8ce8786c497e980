// The one mapping from errno values to Windows error codes in the Linux
// build. Every posix implementation of a Windows call that fails on a system
// call reports the reason through SetLastErrorFromErrno.
#pragma once

#include "WinError.h"
#include "WinTypes.h"

#ifndef ERROR_INVALID_FUNCTION
#  define ERROR_INVALID_FUNCTION 1L
#endif
#ifndef ERROR_TOO_MANY_OPEN_FILES
#  define ERROR_TOO_MANY_OPEN_FILES 4L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#  define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_WRITE_PROTECT
#  define ERROR_WRITE_PROTECT 19L
#endif
#ifndef ERROR_SEEK
#  define ERROR_SEEK 25L
#endif
#ifndef ERROR_GEN_FAILURE
#  define ERROR_GEN_FAILURE 31L
#endif
#ifndef ERROR_DISK_FULL
#  define ERROR_DISK_FULL 112L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#  define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_DIR_NOT_EMPTY
#  define ERROR_DIR_NOT_EMPTY 145L
#endif
#ifndef ERROR_BUSY
#  define ERROR_BUSY 170L
#endif
#ifndef ERROR_BAD_PATHNAME
#  define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#  define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_FILE_TOO_LARGE
#  define ERROR_FILE_TOO_LARGE 223L
#endif
#ifndef ERROR_NOT_OWNER
#  define ERROR_NOT_OWNER 288L
#endif
#ifndef ERROR_IO_DEVICE
#  define ERROR_IO_DEVICE 1117L
#endif
#ifndef ERROR_CANT_RESOLVE_FILENAME
#  define ERROR_CANT_RESOLVE_FILENAME 1921L
#endif
#ifndef ERROR_ENVVAR_NOT_FOUND
#  define ERROR_ENVVAR_NOT_FOUND 203L
#endif

// The thread's last-error code (defined by the kernel layer).
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

namespace quorvane {
namespace posix {

// The Windows error code closest to `error` (an errno value); 0 for 0.
DWORD Win32ErrorFromErrno(int error);
// SetLastError(Win32ErrorFromErrno(error)); returns the code set.
DWORD SetLastErrorFromErrno(int error);

}  // namespace posix
}  // namespace quorvane
