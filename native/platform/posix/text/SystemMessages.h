// The system message table of the Linux build: what FormatMessageW with
// FORMAT_MESSAGE_FROM_SYSTEM reads. It holds the Win32 error codes
// (0..1,400, the RPC_S_* codes and WinInet's 12001..12175) and the HRESULTs
// the library and its Java client meet (E_*, STG_E_*), each text in our own
// words, keeping Windows' inserts (%1, %2) where Windows' text has them and
// ending with a period and CR LF as Windows' texts do. An HRESULT of
// FACILITY_WIN32 (0x8007xxxx) reads as its Win32 code.
#pragma once

#include <cstddef>

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {

struct SystemMessage {
  DWORD id;
  const char* name;  // the constant's name, for readers of the table
  const wchar_t* text;
};

// Each sorted by id.
extern const SystemMessage kWin32Messages[];
extern const size_t kWin32MessageCount;
extern const SystemMessage kHResultMessages[];
extern const size_t kHResultMessageCount;

// The text of message `id`, or null when the table has none.
const wchar_t* FindSystemMessage(DWORD id);

}  // namespace posix
}  // namespace quorvane
