#include "ProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../text/FileSystemText.h"
#include "../kernel/UniqueFd.h"

#ifndef ERROR_PARTIAL_COPY
#  define ERROR_PARTIAL_COPY 299L
#endif

namespace {

using quorvane::posix::KernelObject;

// The handle holds a pidfd, so it keeps naming the process it opened even
// after the id is reused; the executable is read through /proc each time.
class ProcessObject final : public KernelObject {
 public:
  ProcessObject(DWORD pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~ProcessObject() override {
    if (pidfd_ >= 0) close(pidfd_);
  }
  ProcessObject(const ProcessObject&) = delete;
  ProcessObject& operator=(const ProcessObject&) = delete;

  DWORD Wait(DWORD timeoutMs) override {
    if (pidfd_ < 0) return WAIT_FAILED;
    pollfd fd{pidfd_, POLLIN, 0};
    const int timeout = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF));
    int n;
    do n = poll(&fd, 1, timeout);
    while (n < 0 && errno == EINTR);
    return n > 0 ? WAIT_OBJECT_0 : n == 0 ? WAIT_TIMEOUT : WAIT_FAILED;
  }
  // False when the process has ended (a reaped id may now be another's).
  bool Alive() const { return pidfd_ < 0 || syscall(SYS_pidfd_send_signal, pidfd_, 0, nullptr, 0) == 0; }
  DWORD pid() const { return pid_; }

 private:
  DWORD pid_;
  int pidfd_;
};

// Module handle of a process's executable, the only module handed out.
HMODULE const kExecutableModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));

std::shared_ptr<ProcessObject> ProcessFromHandle(HANDLE handle) {
  return quorvane::posix::ReferenceHandle<ProcessObject>(handle, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
}

// The first line of a small /proc file (up to its first NUL or newline).
bool ReadProcLine(const std::string& path, std::string* line) {
  quorvane::posix::UniqueFd fd(quorvane::posix::OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return false;
  char buffer[4096];
  ssize_t n;
  do n = read(fd.Get(), buffer, sizeof buffer);
  while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  line->assign(buffer, static_cast<size_t>(n));
  line->resize(std::min(line->find('\0'), line->find('\n')));
  return true;
}

// Whether every uid of the process (real, effective, saved, file system) is the caller's.
bool IsCallersOwn(const std::string& proc) {
  std::unique_ptr<FILE, int (*)(FILE*)> status(fopen((proc + "/status").c_str(), "re"), fclose);
  if (!status) return false;
  char line[256];
  while (fgets(line, sizeof line, status.get())) {
    unsigned ids[4];
    if (sscanf(line, "Uid: %u %u %u %u", &ids[0], &ids[1], &ids[2], &ids[3]) == 4)
      return std::all_of(ids, ids + 4, [](unsigned id) { return id == geteuid(); });
  }
  return false;
}

// The caller's own processes that the kernel does not let it inspect
// (non-dumpable: setgid programs, ones with file capabilities, ones that
// asked) are named from what anyone may read: argv[0] when its file name is
// the command name (the executed file's name, cut to 15 bytes), else that
// command name.
bool ReadOwnProcessName(const std::string& proc, std::string* target) {
  constexpr size_t kCommandBytes = 15;
  std::string command, argument;
  if (!IsCallersOwn(proc) || !ReadProcLine(proc + "/comm", &command) || command.empty()) return false;
  ReadProcLine(proc + "/cmdline", &argument);
  const std::string base = argument.substr(argument.rfind('/') + 1);
  const bool agrees =
      base == command || (command.size() == kCommandBytes && base.compare(0, kCommandBytes, command) == 0);
  *target = agrees ? argument : command;
  return true;
}

}  // namespace

namespace quorvane {
namespace posix {

bool ReadProcessExecutable(DWORD pid, std::string* target) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), &buffer[0], buffer.size());
    if (n < 0) return errno == EACCES && ReadOwnProcessName("/proc/" + std::to_string(pid), target);
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  static const std::string kDeleted = " (deleted)";
  const size_t cut = buffer.size() - kDeleted.size();
  if (buffer.size() > kDeleted.size() && buffer.compare(cut, kDeleted.size(), kDeleted) == 0) buffer.resize(cut);
  *target = buffer;
  return true;
}

}  // namespace posix
}  // namespace quorvane

BOOL EnumProcesses(DWORD* lpidProcess, DWORD cb, DWORD* lpcbNeeded) {
  if (lpidProcess == nullptr || lpcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) {
    quorvane::posix::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  std::vector<DWORD> ids;
  while (dirent* entry = readdir(proc.get())) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && *end == '\0' && id <= 0xFFFFFFFFul)
      ids.push_back(static_cast<DWORD>(id));
  }
  std::sort(ids.begin(), ids.end());
  const size_t count = std::min<size_t>(ids.size(), cb / sizeof(DWORD));
  std::copy(ids.begin(), ids.begin() + count, lpidProcess);
  *lpcbNeeded = static_cast<DWORD>(count * sizeof(DWORD));
  return TRUE;
}

HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
  std::string executable;
  if (dwProcessId == 0 || !quorvane::posix::ReadProcessExecutable(dwProcessId, &executable)) {
    // Kernel threads have no executable (ENOENT with their folder present).
    const bool exists = dwProcessId != 0 && access(("/proc/" + std::to_string(dwProcessId)).c_str(), F_OK) == 0;
    SetLastError(!exists ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(dwProcessId), 0));
  if (pidfd < 0 && errno == ESRCH) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A kernel without pidfds still answers; the handle then only names the id.
  const DWORD access = quorvane::posix::GrantedAccess(
      dwDesiredAccess, {PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, 0, SYNCHRONIZE, quorvane::posix::kAllAccess});
  return quorvane::posix::RegisterHandle(std::make_shared<ProcessObject>(dwProcessId, pidfd), access | SYNCHRONIZE);
}

BOOL EnumProcessModules(HANDLE hProcess, HMODULE* lphModule, DWORD cb, DWORD* lpcbNeeded) {
  auto process = ProcessFromHandle(hProcess);
  if (!process) return FALSE;
  std::string executable;
  if (lpcbNeeded == nullptr || !process->Alive() ||
      !quorvane::posix::ReadProcessExecutable(process->pid(), &executable)) {
    SetLastError(lpcbNeeded == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PARTIAL_COPY);
    return FALSE;
  }
  if (cb >= sizeof(HMODULE) && lphModule != nullptr) lphModule[0] = kExecutableModule;
  *lpcbNeeded = sizeof(HMODULE);
  return TRUE;
}

DWORD GetModuleBaseNameW(HANDLE hProcess, HMODULE hModule, LPWSTR lpBaseName, DWORD nSize) {
  auto process = ProcessFromHandle(hProcess);
  if (!process) return 0;
  std::string executable;
  if (hModule != nullptr && hModule != kExecutableModule) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (lpBaseName == nullptr || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!process->Alive() || !quorvane::posix::ReadProcessExecutable(process->pid(), &executable)) {
    SetLastError(ERROR_PARTIAL_COPY);
    return 0;
  }
  const std::wstring name = quorvane::posix::WideFromFileSystemText(executable.substr(executable.rfind('/') + 1));
  const size_t length = std::min<size_t>(name.size(), nSize - 1);
  std::copy(name.begin(), name.begin() + length, lpBaseName);
  lpBaseName[length] = L'\0';
  return static_cast<DWORD>(length);
}

BOOL QueryFullProcessImageNameW(HANDLE hProcess, DWORD dwFlags, LPWSTR lpExeName, DWORD* lpdwSize) {
  auto process = ProcessFromHandle(hProcess);
  if (!process) return FALSE;
  if (lpExeName == nullptr || lpdwSize == nullptr || dwFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string executable;
  if (!process->Alive() || !quorvane::posix::ReadProcessExecutable(process->pid(), &executable)) {
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
  }
  const std::wstring path = quorvane::posix::WideFromFileSystemText(executable);
  if (path.size() >= *lpdwSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy(path.begin(), path.end(), lpExeName);
  lpExeName[path.size()] = L'\0';
  *lpdwSize = static_cast<DWORD>(path.size());
  return TRUE;
}
