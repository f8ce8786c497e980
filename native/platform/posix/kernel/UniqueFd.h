// A file descriptor owned by one object and closed in its destructor.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

namespace quorvane {
namespace posix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // close(2) is not retried on EINTR: on Linux the descriptor is gone either way.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// open(2), retried when a signal interrupts it; -1 with errno on failure.
inline int OpenRetrying(const char* path, int flags, mode_t mode = 0666) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A regular file opened with `flags`, or -1 with errno (EACCES for a folder,
// FIFO, socket or device). The type is looked at before the open, so no
// device is ever opened, and the open itself cannot wait for a FIFO's writer
// should the name change in between. Reads of what it opens never block.
// `opened`, when given, receives the open file's fstat.
inline int OpenRegularFile(const char* path, int flags, mode_t mode = 0666, struct stat* opened = nullptr) {
  struct stat own;
  struct stat& st = opened ? *opened : own;
  const int found = (flags & O_NOFOLLOW) ? ::lstat(path, &st) : ::stat(path, &st);
  if (found == 0 && !S_ISREG(st.st_mode)) {
    errno = (flags & O_NOFOLLOW) && S_ISLNK(st.st_mode) ? ELOOP : EACCES;
    return -1;
  }
  const int fd = OpenRetrying(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  // F_SETFL changes only the status flags, which `flags` holds as asked.
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

// read(2) to the end of the file, appending to `into`, retried when a signal
// interrupts it; false with errno set when a read fails, and false (EFBIG)
// as soon as `into` holds more than `limit` bytes.
inline bool ReadToEnd(int fd, std::string* into, size_t limit = SIZE_MAX) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    into->append(chunk, static_cast<size_t>(got));
    if (into->size() > limit) {
      errno = EFBIG;
      return false;
    }
  }
}

// write(2) until all `size` bytes are written, retried when a signal
// interrupts it; false with errno set when it fails (EIO if nothing moves).
inline bool WriteAll(int fd, const void* data, size_t size) {
  const char* from = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, from, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    from += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A path that reaches the file `fd` holds (a folder's: what is in it)
// whatever becomes of its names: /proc/self/fd/N.
inline std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace posix
}  // namespace quorvane
