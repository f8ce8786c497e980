// A bounded connect-and-setup probe of an X server.
#include "X11Probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "../kernel/UniqueFd.h"

namespace quorvane {
namespace posix {
namespace {

struct DisplayAddress {
  bool local = false;     // a Unix socket
  std::string host;       // TCP host, or the socket path when local
  int number = 0;
};

bool ParseDisplay(const std::string& name, DisplayAddress* address) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos || colon + 1 >= name.size()) return false;
  if (colon > 0 && name[colon - 1] == ':') return false;  // DECnet
  std::string host = name.substr(0, colon);
  std::string protocol;
  const size_t slash = host.find('/');
  if (slash != std::string::npos && slash > 0) {
    protocol = host.substr(0, slash);
    host = host.substr(slash + 1);
  }
  int number = 0;
  size_t i = colon + 1;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    number = number * 10 + (name[i] - '0');
    if (number > 65535 - 6000) return false;
  }
  if (i == colon + 1 || (i < name.size() && name[i] != '.')) return false;
  address->number = number;
  if (!host.empty() && host[0] == '/') {
    address->local = true;
    address->host = host;
  } else if (host.empty() || host == "unix" || protocol == "unix" || protocol == "local") {
    address->local = true;
    address->host = "/tmp/.X11-unix/X" + std::to_string(number);
  } else {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    address->host = host;
  }
  return true;
}

long long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int Remaining(long long deadline) {
  const long long left = deadline - NowMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(int fd, short events, long long deadline) {
  for (;;) {
    struct pollfd p = {fd, events, 0};
    const int rc = poll(&p, 1, Remaining(deadline));
    if (rc > 0) return (p.revents & events) != 0 || (p.revents & (POLLHUP | POLLERR)) != 0;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

// A non-blocking connect finished within the deadline.
UniqueFd ConnectBounded(int family, const sockaddr* address, socklen_t length, long long deadline) {
  UniqueFd fd(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return UniqueFd();
  if (connect(fd.Get(), address, length) == 0) return fd;
  if (errno != EINPROGRESS && errno != EINTR) return UniqueFd();
  if (!WaitFor(fd.Get(), POLLOUT, deadline)) return UniqueFd();
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return UniqueFd();
  return fd;
}

UniqueFd ConnectLocal(const std::string& path, long long deadline) {
  // Xlib tries the abstract socket first, then the file.
  for (int abstract = 1; abstract >= 0; --abstract) {
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() + 1 >= sizeof address.sun_path) return UniqueFd();
    std::memcpy(address.sun_path + abstract, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + abstract + path.size() + (abstract ? 0 : 1));
    UniqueFd fd = ConnectBounded(AF_UNIX, reinterpret_cast<sockaddr*>(&address), length, deadline);
    if (fd.Valid()) return fd;
  }
  return UniqueFd();
}

UniqueFd ConnectTcp(const std::string& host, int port, long long deadline) {
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  struct addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return UniqueFd();
  UniqueFd fd;
  for (struct addrinfo* a = found; a != nullptr && !fd.Valid() && Remaining(deadline) > 0; a = a->ai_next)
    fd = ConnectBounded(a->ai_family, a->ai_addr, a->ai_addrlen, deadline);
  freeaddrinfo(found);
  return fd;
}

// The connection setup without authorisation: a live server answers
// Success, Failed or Authenticate at once.
bool SetupAnswered(int fd, long long deadline) {
  const unsigned char request[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  size_t sent = 0;
  while (sent < sizeof request) {
    const ssize_t n = send(fd, request + sent, sizeof request - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  for (;;) {
    if (!WaitFor(fd, POLLIN, deadline)) return false;
    unsigned char status;
    const ssize_t n = recv(fd, &status, 1, 0);
    if (n == 1) return status <= 2;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return false;
  }
}

}  // namespace

bool X11ServerAnswers(const char* displayName, int timeoutMs) {
  if (displayName == nullptr || displayName[0] == 0) return false;
  DisplayAddress address;
  if (!ParseDisplay(displayName, &address)) return false;
  const long long deadline = NowMs() + timeoutMs;
  UniqueFd fd = address.local ? ConnectLocal(address.host, deadline)
                              : ConnectTcp(address.host, 6000 + address.number, deadline);
  return fd.Valid() && SetupAnswered(fd.Get(), deadline);
}

}  // namespace posix
}  // namespace quorvane
