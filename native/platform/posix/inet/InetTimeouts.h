// WinInet's connect and receive time limits: the built-in defaults (60 s to
// connect, 30 s without a byte once connected), the user's registry values
// ConnectTimeout and ReceiveTimeout (REG_DWORD, ms) under
// HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings over
// them, and InternetSetOptionW(NULL, ...) over both for sessions opened
// afterwards. 0 and 0xFFFFFFFF mean no limit.
//
// Over both, no request outlives a ceiling on the whole exchange (connect,
// headers and body together): 300 s, or the per-user RequestTimeout (ms)
// in the same key. It cannot be lifted: 0 and 0xFFFFFFFF mean the default.
#pragma once

#include "../base/WinTypes.h"

namespace quorvane {
namespace posix {
namespace inet {

constexpr DWORD kDefaultConnectTimeoutMs = 60000;
constexpr DWORD kDefaultReceiveTimeoutMs = 30000;
constexpr DWORD kDefaultRequestTimeoutMs = 300000;

struct Timeouts {
  DWORD connectMs = kDefaultConnectTimeoutMs;
  DWORD receiveMs = kDefaultReceiveTimeoutMs;
  DWORD requestMs = kDefaultRequestTimeoutMs;  // never unlimited
};

// The limits a new session starts with.
Timeouts SessionTimeouts();

// InternetSetOptionW(NULL, option, ms); false for an option that is not a
// timeout. The send limit is accepted and has no effect of its own: any
// stall after connecting is caught by the receive limit.
bool SetProcessTimeout(DWORD option, DWORD ms);

// Sets one limit of `timeouts`; false for an option that is not a timeout.
bool SetTimeout(Timeouts& timeouts, DWORD option, DWORD ms);

inline bool IsUnlimited(DWORD ms) { return ms == 0 || ms == 0xFFFFFFFFu; }

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
