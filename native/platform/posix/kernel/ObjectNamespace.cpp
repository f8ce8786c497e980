// Per-user directory, object file names and the namespace lock.
#include "ObjectNamespace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string_view>

#include "../base/ErrnoMapping.h"
#include "../text/FileSystemText.h"

namespace quorvane {
namespace posix {
namespace {

// Longest "object.<name>" kept readable; NAME_MAX is 255.
constexpr size_t kMaxReadableFileName = 200;

bool IsPrivateDirectory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FindDirectory() {
  std::string base;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg != nullptr && xdg[0] == '/' && IsPrivateDirectory(xdg)) {
    base = std::string(xdg) + "/quorvane";
  } else {
    const std::string suffix = "/quorvane-" + std::to_string(geteuid());
    base = (IsDirectory("/dev/shm") ? "/dev/shm" : "/tmp") + suffix;
  }
  if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  return IsPrivateDirectory(base) ? base : std::string();
}

uint64_t Fnv1a64(const std::string& bytes, uint64_t hash) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

DWORD NameError(std::wstring_view name) {
  if (name.size() > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  for (std::wstring_view prefix : {std::wstring_view(L"Global\\"), std::wstring_view(L"Local\\")}) {
    if (name.substr(0, prefix.size()) == prefix) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  if (name.find(L'\\') != std::wstring_view::npos) return ERROR_PATH_NOT_FOUND;
  return name.empty() ? ERROR_INVALID_NAME : ERROR_SUCCESS;
}

}  // namespace

std::string UserObjectDirectory() {
  // Found once per process so every object of the process agrees; a failed
  // attempt is retried on the next call.
  static std::mutex mutex;
  static std::string directory;
  std::lock_guard<std::mutex> lock(mutex);
  if (directory.empty() || !IsPrivateDirectory(directory)) directory = FindDirectory();
  return directory;
}

std::string Utf8FromWideText(const WCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) {
    const uint32_t c = static_cast<uint32_t>(*text);
    AppendUtf8(out, c > 0x10FFFF ? 0xFFFD : c);
  }
  return out;
}

bool ObjectNameOf(LPCWSTR name, std::string* utf8Name) {
  const std::wstring_view whole(name);
  const DWORD error = NameError(whole);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  const size_t prefix = whole.find(L'\\') + 1;  // 0 without a prefix
  *utf8Name = Utf8FromWideText(name + prefix);
  return true;
}

std::string ObjectFileName(const std::string& utf8Name) {
  static const char kKind[] = "object";
  std::string file = std::string(kKind) + ".";
  for (size_t i = 0; i < utf8Name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8Name[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '%' || (i == 0 && c == '.')) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      file += escaped;
    } else {
      file += static_cast<char>(c);
    }
  }
  if (file.size() <= kMaxReadableFileName) return file;
  char hashed[64];
  std::snprintf(hashed, sizeof hashed, "#%016llx%016llx",
                static_cast<unsigned long long>(Fnv1a64(utf8Name, 0xcbf29ce484222325ull)),
                static_cast<unsigned long long>(Fnv1a64(utf8Name, 0x84222325cbf29ce4ull)));
  return std::string(kKind) + hashed;
}

bool LockFile(int fd, int operation) {
  for (;;) {
    if (flock(fd, operation) == 0) return true;
    if (errno != EINTR) return false;
  }
}

NamespaceLock::NamespaceLock(const std::string& directory) {
  if (directory.empty()) return;
  std::string path;
  try {
    path = directory + "/objects.lock";
  } catch (const std::bad_alloc&) {
    return;  // also used from destructors: no throw
  }
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  fd_.Reset(fd);
  held_ = fd_.Valid() && LockFile(fd_.Get(), LOCK_EX);
}

}  // namespace posix
}  // namespace quorvane
