// PSAPI's process list of the Linux build: EnumProcesses, OpenProcess,
// EnumProcessModules, GetModuleBaseNameW and QueryFullProcessImageNameW
// over /proc.
//
// A process is a numbered folder of /proc. OpenProcess succeeds only for a
// process whose executable this user may inspect: the kernel's ptrace read
// check on /proc/PID/exe, or, for the caller's own non-dumpable processes
// (ssh-agent, gpg-agent, setgid programs), all of whose uids are the
// caller's, the names anyone may read. Other users' processes (for anyone
// but root) and kernel threads, which have no executable, are refused with
// ERROR_ACCESS_DENIED, as Windows refuses protected processes. A process has
// one module, its executable; its base name is the file name of the
// executable (/proc/PID/exe's target, without " (deleted)"; for a
// non-dumpable process argv[0] when it agrees with the kernel's command
// name, else that name), so "java" for a JVM: Linux executables carry no
// ".exe".
#pragma once

#include <string>

#include "../base/WinTypes.h"
#include "../kernel/Handles.h"

#define PROCESS_VM_READ 0x0010u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u

// The ids of the running processes, in ascending order, as many as fit in
// cb bytes; *lpcbNeeded is the bytes written (as on Windows, a full buffer
// means there may be more).
BOOL EnumProcesses(DWORD* lpidProcess, DWORD cb, DWORD* lpcbNeeded);
// A handle to process dwProcessId (close with CloseHandle); NULL with
// ERROR_INVALID_PARAMETER for a process that does not exist and
// ERROR_ACCESS_DENIED for one this user may not inspect.
HANDLE OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
// The process's one module: its executable. FALSE with ERROR_PARTIAL_COPY
// when the process has ended or lost its executable.
BOOL EnumProcessModules(HANDLE hProcess, HMODULE* lphModule, DWORD cb, DWORD* lpcbNeeded);
// The executable's file name, cut to nSize - 1 characters; 0 on failure.
DWORD GetModuleBaseNameW(HANDLE hProcess, HMODULE hModule, LPWSTR lpBaseName, DWORD nSize);
// The executable's full path; *lpdwSize holds the buffer's capacity in
// characters and receives the path's length. FALSE with
// ERROR_INSUFFICIENT_BUFFER when the path and its zero do not fit, and
// ERROR_PARTIAL_COPY when the process has ended or lost its executable.
BOOL QueryFullProcessImageNameW(HANDLE hProcess, DWORD dwFlags, LPWSTR lpExeName, DWORD* lpdwSize);

namespace quorvane {
namespace posix {

// The target of /proc/PID/exe without " (deleted)", or the name of one of
// the caller's own non-dumpable processes; false when neither can be read
// (no such process, another user's, a kernel thread).
bool ReadProcessExecutable(DWORD pid, std::string* target);

}  // namespace posix
}  // namespace quorvane
