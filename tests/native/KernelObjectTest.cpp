// What Windows answers, last error included, for kernel calls on handles with
// limited rights, names of another kind of object, names with backslashes
// and pseudo-handles; and that the namespace spans processes.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <cwctype>
#include <string>
#include <vector>

#include "Win32Api.h"

namespace {

std::wstring UniqueName(const wchar_t* what) {
  static int counter = 0;
  return L"qv-kernel-" + std::to_wstring(getpid()) + L"-" + std::to_wstring(++counter) + L"-" + what;
}

// Whether a handle came back; it is closed at once.
DWORD Opened(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
  return handle != nullptr;
}

struct Case {
  const char* call;
  std::function<DWORD()> run;
  DWORD result;
  DWORD error;  // checked when the call fails; 0 for calls that succeed
};

TEST(KernelObject, CallsAnswerAsWindowsDoesWithItsLastError) {
  const std::wstring event = UniqueName(L"event"), mutex = UniqueName(L"mutex");
  HANDLE owner = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
  HANDLE mutexOwner = CreateMutexW(nullptr, FALSE, mutex.c_str());
  ASSERT_NE(nullptr, owner);
  ASSERT_NE(nullptr, mutexOwner);
  auto openEvent = [&](DWORD access) { return OpenEventW(access, FALSE, event.c_str()); };
  auto openMutex = [&](DWORD access) { return OpenMutexW(access, FALSE, mutex.c_str()); };
  HANDLE evSync = openEvent(SYNCHRONIZE), evModify = openEvent(EVENT_MODIFY_STATE);
  HANDLE evExecute = openEvent(GENERIC_EXECUTE), evWrite = openEvent(GENERIC_WRITE), evNone = openEvent(0);
  HANDLE mxSync = openMutex(SYNCHRONIZE), mxModify = openMutex(MUTEX_MODIFY_STATE);
  HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(closed);
  const std::wstring longName(MAX_PATH + 1, L'n');
  std::wstring upperEvent = event;
  for (wchar_t& c : upperEvent) c = static_cast<wchar_t>(towupper(c));

  // Rows run in order; the event stays reset throughout.
  const std::vector<Case> cases = {
      // Rights are the handle's own.
      {"SetEvent(SYNCHRONIZE)", [&] { return DWORD(SetEvent(evSync)); }, FALSE, ERROR_ACCESS_DENIED},
      {"ResetEvent(SYNCHRONIZE)", [&] { return DWORD(ResetEvent(evSync)); }, FALSE, ERROR_ACCESS_DENIED},
      {"SetEvent(GENERIC_EXECUTE)", [&] { return DWORD(SetEvent(evExecute)); }, FALSE, ERROR_ACCESS_DENIED},
      {"wait(SYNCHRONIZE)", [&] { return WaitForSingleObject(evSync, 0); }, WAIT_TIMEOUT, 0},
      {"wait(GENERIC_EXECUTE)", [&] { return WaitForSingleObject(evExecute, 0); }, WAIT_TIMEOUT, 0},
      {"wait(EVENT_MODIFY_STATE)", [&] { return WaitForSingleObject(evModify, 0); }, WAIT_FAILED, ERROR_ACCESS_DENIED},
      {"wait(GENERIC_WRITE)", [&] { return WaitForSingleObject(evWrite, 0); }, WAIT_FAILED, ERROR_ACCESS_DENIED},
      {"SetEvent(no rights)", [&] { return DWORD(SetEvent(evNone)); }, FALSE, ERROR_ACCESS_DENIED},
      {"wait(no rights)", [&] { return WaitForSingleObject(evNone, 0); }, WAIT_FAILED, ERROR_ACCESS_DENIED},
      {"SetEvent(EVENT_MODIFY_STATE)", [&] { return DWORD(SetEvent(evModify)); }, TRUE, 0},
      {"ResetEvent(GENERIC_WRITE)", [&] { return DWORD(ResetEvent(evWrite)); }, TRUE, 0},
      {"wait(mutex, MUTEX_MODIFY_STATE)", [&] { return WaitForSingleObject(mxModify, 0); }, WAIT_FAILED,
       ERROR_ACCESS_DENIED},
      {"wait(mutex, SYNCHRONIZE)", [&] { return WaitForSingleObject(mxSync, 0); }, WAIT_OBJECT_0, 0},
      // Releasing asks for no right, only ownership.
      {"ReleaseMutex(MUTEX_MODIFY_STATE)", [&] { return DWORD(ReleaseMutex(mxModify)); }, TRUE, 0},
      // One namespace for both kinds; the kind is checked before the rights.
      {"CreateEvent(mutex name)", [&] { return Opened(CreateEventW(nullptr, TRUE, FALSE, mutex.c_str())); }, 0,
       ERROR_INVALID_HANDLE},
      {"OpenEvent(mutex name)", [&] { return Opened(OpenEventW(SYNCHRONIZE, FALSE, mutex.c_str())); }, 0,
       ERROR_INVALID_HANDLE},
      {"CreateMutex(event name)", [&] { return Opened(CreateMutexW(nullptr, FALSE, event.c_str())); }, 0,
       ERROR_INVALID_HANDLE},
      {"OpenMutex(event name)", [&] { return Opened(OpenMutexW(SYNCHRONIZE, FALSE, event.c_str())); }, 0,
       ERROR_INVALID_HANDLE},
      {"SetEvent(mutex handle)", [&] { return DWORD(SetEvent(mxSync)); }, FALSE, ERROR_INVALID_HANDLE},
      // Names: one "Global\" or "Local\" prefix, case-sensitive; no other backslash.
      {"CreateEvent(a\\b)", [&] { return Opened(CreateEventW(nullptr, TRUE, FALSE, (event + L"\\b").c_str())); }, 0,
       ERROR_PATH_NOT_FOUND},
      {"CreateMutex(Global\\a\\b)",
       [&] { return Opened(CreateMutexW(nullptr, FALSE, (L"Global\\" + mutex + L"\\b").c_str())); }, 0,
       ERROR_PATH_NOT_FOUND},
      {"OpenEvent(global\\name)", [&] { return Opened(OpenEventW(SYNCHRONIZE, FALSE, (L"global\\" + event).c_str())); },
       0, ERROR_PATH_NOT_FOUND},
      {"OpenEvent(Local\\name)", [&] { return Opened(OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\" + event).c_str())); },
       1, 0},
      {"OpenMutex(Global\\name)",
       [&] { return Opened(OpenMutexW(SYNCHRONIZE, FALSE, (L"Global\\" + mutex).c_str())); }, 1, 0},
      {"OpenEvent(NAME)", [&] { return Opened(OpenEventW(SYNCHRONIZE, FALSE, upperEvent.c_str())); }, 0,
       ERROR_FILE_NOT_FOUND},
      {"CreateEvent(Local\\)", [&] { return Opened(CreateEventW(nullptr, TRUE, FALSE, L"Local\\")); }, 0,
       ERROR_INVALID_NAME},
      {"CreateMutex(MAX_PATH + 1)", [&] { return Opened(CreateMutexW(nullptr, FALSE, longName.c_str())); }, 0,
       ERROR_FILENAME_EXCED_RANGE},
      // Handles.
      {"CloseHandle(GetCurrentThread())", [&] { return DWORD(CloseHandle(GetCurrentThread())); }, TRUE, 0},
      {"CloseHandle(GetCurrentProcess())", [&] { return DWORD(CloseHandle(GetCurrentProcess())); }, TRUE, 0},
      {"wait(GetCurrentThread())", [&] { return WaitForSingleObject(GetCurrentThread(), 0); }, WAIT_TIMEOUT, 0},
      {"CloseHandle(closed)", [&] { return DWORD(CloseHandle(closed)); }, FALSE, ERROR_INVALID_HANDLE},
      {"CloseHandle(NULL)", [&] { return DWORD(CloseHandle(nullptr)); }, FALSE, ERROR_INVALID_HANDLE},
      {"wait(closed)", [&] { return WaitForSingleObject(closed, 0); }, WAIT_FAILED, ERROR_INVALID_HANDLE},
      {"EmptyWorkingSet(GetCurrentThread())", [&] { return DWORD(EmptyWorkingSet(GetCurrentThread())); }, FALSE,
       ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SetLastError(0xDEAD);
    EXPECT_EQ(c.result, c.run()) << c.call;
    if (c.error != 0) EXPECT_EQ(c.error, GetLastError()) << c.call;
  }
  for (HANDLE h : {owner, mutexOwner, evSync, evModify, evExecute, evWrite, evNone, mxSync, mxModify}) CloseHandle(h);
}

// A name held only by another process is still refused to the other kind,
// and is free again once that process is gone.
TEST(KernelObject, OneNamespaceAcrossProcesses) {
  const std::wstring parentEvent = UniqueName(L"parent"), childMutex = UniqueName(L"child");
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, parentEvent.c_str());
  ASSERT_NE(nullptr, event);
  int report[2];
  ASSERT_EQ(0, pipe(report));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // What the child's CreateMutex of the parent's event name answered, once
    // it holds its own mutex.
    HANDLE refused = CreateMutexW(nullptr, FALSE, parentEvent.c_str());
    const DWORD error = refused == nullptr ? GetLastError() : 0;
    HANDLE held = CreateMutexW(nullptr, FALSE, childMutex.c_str());
    if (held != nullptr && write(report[1], &error, sizeof error) == sizeof error) pause();
    _exit(1);
  }
  close(report[1]);
  pollfd ready{report[0], POLLIN, 0};
  DWORD childError = 0;
  const bool reported = poll(&ready, 1, 20000) == 1 && read(report[0], &childError, sizeof childError) == sizeof childError;
  SetLastError(0);
  HANDLE clash = reported ? CreateEventW(nullptr, FALSE, FALSE, childMutex.c_str()) : nullptr;
  const DWORD clashError = GetLastError();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(report[0]);
  ASSERT_TRUE(reported) << "the child did not get its mutex";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), childError);
  EXPECT_EQ(nullptr, clash);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), clashError);

  HANDLE fresh = CreateEventW(nullptr, FALSE, FALSE, childMutex.c_str());
  EXPECT_NE(nullptr, fresh) << "a dead holder keeps the name";
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  CloseHandle(fresh);
  CloseHandle(event);
}

}  // namespace
