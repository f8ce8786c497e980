// The Windows API subset the library calls. On Windows these are the real
// headers; on Linux they are our own implementation under posix/. Nothing
// above native/platform includes an operating-system header directly.
#pragma once

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
// Winsock 2 must come before windows.h, which otherwise brings Winsock 1.
#  include <winsock2.h>
#  include <ws2tcpip.h>
#  include <windows.h>
#  include <objbase.h>
#  include <propidl.h>
#  include <strsafe.h>
#  include <psapi.h>
#  include <shellapi.h>
#  include <shlobj.h>
#  include <rpc.h>
#  include <wincrypt.h>
#  include <dpapi.h>
#  include <wininet.h>
// wingdi's GetObject macro would rename our field accessor; call GetObjectW by name.
#  undef GetObject
#else
#  include "posix/base/WinTypes.h"
#  include "posix/base/WinError.h"
#  include "posix/text/StrSafe.h"
#  include "posix/storage/ComBase.h"
#  include "posix/storage/StorageApi.h"
#  include "posix/storage/PropIdl.h"
#  include "posix/text/CodePages.h"
#  include "posix/time/TimeApi.h"
#  include "posix/kernel/Handles.h"
#  include "posix/kernel/Event.h"
#  include "posix/kernel/Process.h"
#  include "posix/window/WindowApi.h"
#  include "posix/base/ErrnoMapping.h"
#  include "posix/process/Environment.h"
#  include "posix/kernel/LocalMemory.h"
#  include "posix/text/MessageFormat.h"
#  include "posix/process/Console.h"
#  include "posix/process/Debugger.h"
#  include "posix/process/ProcessInfo.h"
#  include "posix/time/LocalTime.h"
#  include "posix/text/StringApi.h"
#  include "posix/files/FileApi.h"
#  include "posix/kernel/Mutex.h"
#  include "posix/shell/ShellApi.h"
#  include "posix/rpc/RpcApi.h"
#  include "posix/text/StringCompare.h"
#  include "posix/text/UiLanguage.h"
#  include "posix/process/ProcessList.h"
#  include "posix/version/VersionApi.h"
#  include "posix/net/WinSock.h"
#  include "posix/crypto/DpapiApi.h"
#  include "posix/registry/RegistryApi.h"
#  include "posix/files/FilesApi.h"
#  include "posix/inet/WinInetApi.h"
#endif
