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
#  include "posix/WinTypes.h"
#  include "posix/WinError.h"
#  include "posix/StrSafe.h"
#  include "posix/ComBase.h"
#  include "posix/StorageApi.h"
#  include "posix/PropIdl.h"
#  include "posix/CodePages.h"
#  include "posix/TimeApi.h"
#  include "posix/kernel/Handles.h"
#  include "posix/kernel/Event.h"
#  include "posix/kernel/Process.h"
#  include "posix/window/WindowApi.h"
#  include "posix/ErrnoMapping.h"
#  include "posix/Environment.h"
#  include "posix/LocalMemory.h"
#  include "posix/MessageFormat.h"
#  include "posix/Console.h"
#  include "posix/Debugger.h"
#  include "posix/ProcessInfo.h"
#  include "posix/LocalTime.h"
#  include "posix/StringApi.h"
#  include "posix/FileApi.h"
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
