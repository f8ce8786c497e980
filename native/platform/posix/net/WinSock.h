// Winsock of the Linux build, as much as the interface list needs:
// WSAStartup / WSACleanup (a process-wide count), WSASocketW / closesocket,
// and WSAIoctl with SIO_GET_INTERFACE_LIST over getifaddrs.
//
// The interface list is Windows' INTERFACE_INFO records, one per IPv4
// address of an interface (an interface with two addresses gives two
// records, as on Windows), with Winsock's flag values: IFF_UP when the
// interface is up and running (it has a carrier), IFF_LOOPBACK, IFF_BROADCAST, IFF_POINTTOPOINT and
// IFF_MULTICAST as Linux says. The socket serves queries only, so
// WSASocketW opens a datagram socket of the family asked for whatever the
// type: a raw socket would need a privilege it never uses.
#pragma once

// AF_INET (2), SOCK_DGRAM (2), SOCK_RAW (3) and IPPROTO_UDP (17) have
// Winsock's values on Linux too.
#include <netinet/in.h>
#include <sys/socket.h>

#include "../base/WinTypes.h"

typedef uintptr_t SOCKET;
#define INVALID_SOCKET (~static_cast<SOCKET>(0))
#define SOCKET_ERROR (-1)

// Winsock's interface flags (not Linux's <net/if.h> values).
#define IFF_UP 0x00000001u
#define IFF_BROADCAST 0x00000002u
#define IFF_LOOPBACK 0x00000004u
#define IFF_POINTTOPOINT 0x00000008u
#define IFF_MULTICAST 0x00000010u

#define SIO_GET_INTERFACE_LIST 0x4004747Fu

#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEAFNOSUPPORT 10047L
#define WSAENOTSOCK 10038L

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
} WSADATA, *LPWSADATA;

// Windows' socket address records, laid out as Winsock lays them out.
struct WinInAddr {
  BYTE s_b[4];  // network order
};
struct WinSockAddrIn {
  uint16_t sin_family;
  uint16_t sin_port;
  WinInAddr sin_addr;
  BYTE sin_zero[8];
};
typedef union sockaddr_gen {
  struct {
    uint16_t sa_family;
  } Address;
  WinSockAddrIn AddressIn;
  BYTE AddressIn6[24];
} sockaddr_gen;

typedef struct _INTERFACE_INFO {
  uint32_t iiFlags;
  sockaddr_gen iiAddress;
  sockaddr_gen iiBroadcastAddress;
  sockaddr_gen iiNetmask;
} INTERFACE_INFO;
static_assert(sizeof(INTERFACE_INFO) == 76, "Winsock's INTERFACE_INFO is 76 bytes");

typedef void* LPWSAPROTOCOL_INFOW;
typedef unsigned int GROUP;
typedef void* LPWSAOVERLAPPED;
typedef void* LPWSAOVERLAPPED_COMPLETION_ROUTINE;

// Version 2.2 and below 2.2 down to 1.0 are accepted; 0 or a Winsock error.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();
int WSAGetLastError();
SOCKET WSASocketW(int af, int type, int protocol, LPWSAPROTOCOL_INFOW lpProtocolInfo, GROUP g, DWORD dwFlags);
int closesocket(SOCKET s);
// SIO_GET_INTERFACE_LIST only: as many whole records as fit in the output
// (WSAEFAULT when not even one fits and there is one to give).
int WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID lpvOutBuffer,
             DWORD cbOutBuffer, DWORD* lpcbBytesReturned, LPWSAOVERLAPPED lpOverlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);
