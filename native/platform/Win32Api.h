// The Windows API subset the library calls. On Windows these are the real
// headers; on Linux they are our own implementation under posix/. Nothing
// above native/platform includes an operating-system header directly.
#pragma once

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#  include <objbase.h>
#  include <propidl.h>
#  include <strsafe.h>
// wingdi's GetObject macro would rename our field accessor; call GetObjectW by name.
#  undef GetObject
#else
#  include "posix/WinTypes.h"
#  include "posix/WinError.h"
#  include "posix/StrSafe.h"
#  include "posix/ComBase.h"
#  include "posix/StorageApi.h"
#endif
