// Helpers for the settings and logger tests: a temporary folder, environment
// variables set for one test, whole-file reads and writes, and standard
// error captured into a file.
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
#endif

namespace settings_test {

#ifdef _WIN32
// Windows has no mkdtemp or setenv: a numbered folder under the temporary
// folder, and the variables of the process environment block (which
// GetEnvironmentVariableW reads).
class TempFolder {
 public:
  TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (unsigned n = GetCurrentProcessId() * 1000u + GetTickCount() % 1000u;; ++n) {
      const std::filesystem::path candidate = base / ("qv-settings-" + std::to_string(n));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate.string();
        break;
      }
    }
  }
#else
class TempFolder {
 public:
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

// Sets (or with nullopt unsets) one variable; restores it at the end.
#ifdef _WIN32
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(Utf8ToWide(name)) {
    const DWORD size = GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (size > 0) {
      std::wstring old(size, L'\0');
      old.resize(GetEnvironmentVariableW(name_.c_str(), &old[0], size));
      old_ = old;
    }
    SetEnvironmentVariableW(name_.c_str(), value ? Utf8ToWide(*value).c_str() : nullptr);
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

 private:
  static std::wstring Utf8ToWide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
  }
  std::wstring name_;
  std::optional<std::wstring> old_;
};
#else
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~ScopedVariable() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};
#endif

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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

}  // namespace settings_test
