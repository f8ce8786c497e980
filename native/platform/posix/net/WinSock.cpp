#include "WinSock.h"

// <net/if.h> is left out: its IFF_* names would clash with Winsock's.
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "../base/ErrnoMapping.h"

namespace {

// Linux's interface flags (<linux/if.h>).
constexpr unsigned kLinuxUp = 0x1, kLinuxBroadcast = 0x2, kLinuxLoopback = 0x8, kLinuxPointToPoint = 0x10,
                   kLinuxRunning = 0x40, kLinuxMulticast = 0x1000;

std::atomic<int> g_startups{0};

int Fail(int error) {
  SetLastError(static_cast<DWORD>(error));
  return SOCKET_ERROR;
}

void CopyAddress(const sockaddr* from, sockaddr_gen* to) {
  if (from == nullptr || from->sa_family != AF_INET) return;
  const auto* in = reinterpret_cast<const sockaddr_in*>(from);
  to->AddressIn.sin_family = AF_INET;
  std::memcpy(to->AddressIn.sin_addr.s_b, &in->sin_addr, 4);
}

uint32_t WinsockFlags(unsigned linuxFlags) {
  uint32_t flags = 0;
  // Winsock's "up" is running: Linux's administrative up without a carrier is not.
  if ((linuxFlags & kLinuxUp) && (linuxFlags & kLinuxRunning)) flags |= IFF_UP;
  if (linuxFlags & kLinuxBroadcast) flags |= IFF_BROADCAST;
  if (linuxFlags & kLinuxLoopback) flags |= IFF_LOOPBACK;
  if (linuxFlags & kLinuxPointToPoint) flags |= IFF_POINTTOPOINT;
  if (linuxFlags & kLinuxMulticast) flags |= IFF_MULTICAST;
  return flags;
}

}  // namespace

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  const BYTE major = wVersionRequested & 0xFF, minor = wVersionRequested >> 8;
  if (lpWSAData == nullptr) return WSAEFAULT;
  if (major == 0) return WSAVERNOTSUPPORTED;
  std::memset(lpWSAData, 0, sizeof *lpWSAData);
  lpWSAData->wVersion = major > 2 || (major == 2 && minor > 2) ? 0x0202 : wVersionRequested;
  lpWSAData->wHighVersion = 0x0202;
  std::strcpy(lpWSAData->szDescription, "WinSock 2.0");
  std::strcpy(lpWSAData->szSystemStatus, "Running");
  g_startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int count = g_startups.load();
  do {
    if (count == 0) return Fail(WSANOTINITIALISED);
  } while (!g_startups.compare_exchange_weak(count, count - 1));
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

SOCKET WSASocketW(int af, int, int, LPWSAPROTOCOL_INFOW, GROUP, DWORD) {
  if (g_startups.load() == 0) return Fail(WSANOTINITIALISED), INVALID_SOCKET;
  if (af != AF_INET) return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(static_cast<int>(quorvane::posix::SetLastErrorFromErrno(errno))), INVALID_SOCKET;
  return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  if (s == INVALID_SOCKET || s > 0x7FFFFFFF || close(static_cast<int>(s)) != 0) return Fail(WSAENOTSOCK);
  return 0;
}

int WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID, DWORD, LPVOID lpvOutBuffer, DWORD cbOutBuffer,
             DWORD* lpcbBytesReturned, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
  if (g_startups.load() == 0) return Fail(WSANOTINITIALISED);
  if (s == INVALID_SOCKET) return Fail(WSAENOTSOCK);
  if (dwIoControlCode != SIO_GET_INTERFACE_LIST) return Fail(WSAEINVAL);
  if (lpvOutBuffer == nullptr || lpcbBytesReturned == nullptr) return Fail(WSAEFAULT);
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return Fail(static_cast<int>(quorvane::posix::SetLastErrorFromErrno(errno)));
  auto* records = static_cast<INTERFACE_INFO*>(lpvOutBuffer);
  const size_t capacity = cbOutBuffer / sizeof(INTERFACE_INFO);
  size_t count = 0;
  bool truncated = false;
  for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if (count == capacity) {
      truncated = true;
      break;
    }
    INTERFACE_INFO record;
    std::memset(&record, 0, sizeof record);
    record.iiFlags = WinsockFlags(it->ifa_flags);
    CopyAddress(it->ifa_addr, &record.iiAddress);
    CopyAddress(it->ifa_netmask, &record.iiNetmask);
    CopyAddress((it->ifa_flags & kLinuxBroadcast) ? it->ifa_broadaddr : nullptr, &record.iiBroadcastAddress);
    std::memcpy(&records[count++], &record, sizeof record);
  }
  freeifaddrs(list);
  if (truncated && count == 0) return Fail(WSAEFAULT);
  *lpcbBytesReturned = static_cast<DWORD>(count * sizeof(INTERFACE_INFO));
  return 0;
}
