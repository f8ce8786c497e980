// The three kinds of HINTERNET: an Internet session (InternetOpenW), a
// connection to one server (InternetConnectW) and a request
// (HttpOpenRequestW, HttpRequest.h). Each handle is the address of its own
// heap object, and the table of live handles is consulted on every call:
// an unknown or closed handle answers ERROR_INVALID_HANDLE, a handle of
// another kind ERROR_INTERNET_INCORRECT_HANDLE_TYPE. The table holds shared
// owners, so a handle closed by one thread while another uses it goes only
// when that call is done; a child keeps its parent alive the same way.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "InetTimeouts.h"
#include "WinInetApi.h"

namespace quorvane {
namespace posix {
namespace inet {

class InetObject {
 public:
  enum class Kind { kSession, kConnection, kRequest };

  virtual ~InetObject() = default;
  InetObject(const InetObject&) = delete;
  InetObject& operator=(const InetObject&) = delete;

  Kind kind() const { return kind_; }
  // Limits of this handle: its parent's when it was opened, changed by
  // InternetSetOptionW on it afterwards. Thread-safe.
  Timeouts GetTimeouts() const;
  bool SetTimeoutOption(DWORD option, DWORD ms);

 protected:
  InetObject(Kind kind, const Timeouts& timeouts) : kind_(kind), timeouts_(timeouts) {}

 private:
  const Kind kind_;
  mutable std::mutex mutex_;
  Timeouts timeouts_;
};

class Session final : public InetObject {
 public:
  Session(std::string agent, bool direct)
      : InetObject(Kind::kSession, SessionTimeouts()), agent(std::move(agent)), direct(direct) {}
  const std::string agent;
  const bool direct;  // INTERNET_OPEN_TYPE_DIRECT: no proxy at all
};

class Connection final : public InetObject {
 public:
  Connection(std::shared_ptr<Session> session, std::string host, INTERNET_PORT port, std::string user,
             std::string password)
      : InetObject(Kind::kConnection, session->GetTimeouts()),
        session(std::move(session)),
        host(std::move(host)),
        port(port),
        user(std::move(user)),
        password(std::move(password)) {}
  const std::shared_ptr<Session> session;
  const std::string host;
  const INTERNET_PORT port;  // INTERNET_INVALID_PORT_NUMBER: the scheme's default
  const std::string user, password;  // offered for Basic or Digest when a user is given
};

// Registers a new object; its address is the handle.
HINTERNET RegisterHandle(std::shared_ptr<InetObject> object);
// The live object of `handle` when it is of `kind`; null with the last
// error set otherwise.
std::shared_ptr<InetObject> FindHandle(HINTERNET handle, InetObject::Kind kind);
// Any live object; null with ERROR_INVALID_HANDLE.
std::shared_ptr<InetObject> FindAnyHandle(HINTERNET handle);
// False with ERROR_INVALID_HANDLE when it was not open.
bool CloseInetHandle(HINTERNET handle);

template <typename T>
std::shared_ptr<T> Find(HINTERNET handle, InetObject::Kind kind) {
  return std::static_pointer_cast<T>(FindHandle(handle, kind));
}

}  // namespace inet
}  // namespace posix
}  // namespace quorvane
