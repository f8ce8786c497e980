// Shared by native and Windows tests: temporary folder, scoped variables, file bytes, lines, stderr redirect; on
// Linux, a server that never answers and a child process's answer.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "Win32Api.h"
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#endif

namespace settings_test {

class TempFolder {
 public:
#ifdef _WIN32
  // No mkdtemp: a numbered folder under the temporary folder.
  TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    unsigned n = GetCurrentProcessId() * 1000u + GetTickCount() % 1000u;
    while (!std::filesystem::create_directory(path_ = (base / ("qv-settings-" + std::to_string(n++))).string())) {}
  }
#else
  TempFolder() {
    char pattern[] = "/tmp/qv-settings-XXXXXX";
    path_ = mkdtemp(pattern);
  }
#endif
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (nullopt: unsets) a variable for the scope; on Windows in the block GetEnvironmentVariableW reads.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name), old_(Get(name)) { Set(name, value); }
  ~ScopedVariable() { Set(name_.c_str(), old_); }

 private:
#ifdef _WIN32
  static std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
  }
  static std::optional<std::string> Get(const char* name) {
    const DWORD size = GetEnvironmentVariableW(Wide(name).c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(Wide(name).c_str(), &value[0], size));
    std::string utf8(value.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), &utf8[0],
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
  }
  static void Set(const char* name, const std::optional<std::string>& value) {
    SetEnvironmentVariableW(Wide(name).c_str(), value ? Wide(*value).c_str() : nullptr);
  }
#else
  static std::optional<std::string> Get(const char* name) {
    const char* value = getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Set(const char* name, const std::optional<std::string>& value) {
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
#endif
  std::string name_;
  std::optional<std::string> old_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Descriptor 2 goes to `target` (a file or a terminal) until destruction.
class StderrRedirect {
 public:
  explicit StderrRedirect(int target) : saved_(dup(STDERR_FILENO)) { dup2(target, STDERR_FILENO); }
  ~StderrRedirect() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

#ifndef _WIN32
// A unix socket that takes connections and reads them, and never answers: a hung session bus or display server.
class SilentServer {
 public:
  SilentServer() : listen_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    Path().copy(address.sun_path, sizeof address.sun_path - 1);
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listen_, 16) != 0 ||
        pipe(stop_) != 0)
      return;
    thread_ = std::thread([this] {
      std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {listen_, POLLIN, 0}};
      while (poll(fds.data(), fds.size(), -1) > 0 && fds[0].revents == 0) {
        for (size_t i = 1; i < fds.size(); ++i) {
          char bytes[512];
          if (fds[i].revents == 0) continue;
          if (i == 1) {
            fds.push_back({accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
            ++accepted_;
          } else if (read(fds[i].fd, bytes, sizeof bytes) <= 0) close(std::exchange(fds[i].fd, -1));
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) close(fds[i].fd);
    });
  }
  ~SilentServer() {
    if (thread_.joinable() && write(stop_[1], "", 1) == 1) thread_.join();
    for (int fd : {listen_, stop_[0], stop_[1]}) close(fd);
  }
  std::string Path() const { return folder_.File("socket"); }
  std::string Address() const { return "unix:path=" + Path(); }  // as D-Bus names it
  int Accepted() const { return accepted_; }  // connections so far

 private:
  TempFolder folder_;
  std::atomic<int> accepted_{0};
  int listen_;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

// Runs `body` in a forked child and answers the text it returns, or "child died" when the child did not end by
// itself.
inline std::string TextOfChild(const std::function<std::string()>& body) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    const std::string text = body();
    (void)!write(out[1], text.data(), text.size());
    _exit(0);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) ? text : "child died";
}
#endif

}  // namespace settings_test
