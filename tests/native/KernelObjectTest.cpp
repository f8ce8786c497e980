// Kernel objects answer as Windows does (last error included); mutex ownership; the handle table.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Win32Api.h"

namespace {

using quorvane::posix::KernelObject;
using quorvane::posix::LookupHandle;
using quorvane::posix::RegisterHandle;
using quorvane::posix::UnregisterHandle;

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

TEST(KernelObject, CallsAnswerAsWindowsDoesWithItsLastErrorInOneNamespaceAcrossProcesses) {
  const std::wstring event = UniqueName(L"event"), mutex = UniqueName(L"mutex");
  HANDLE owner = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
  HANDLE mutexOwner = CreateMutexW(nullptr, FALSE, mutex.c_str());
  ASSERT_TRUE(owner && mutexOwner);
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

  // Rows run in order; the event stays reset throughout. The label is the call.
#define ROW(call, result, error) {#call, [&] { return DWORD(call); }, DWORD(result), DWORD(error)}
  const std::vector<Case> cases = {
      // Rights are the handle's own.
      ROW(SetEvent(evSync), FALSE, ERROR_ACCESS_DENIED),
      ROW(ResetEvent(evSync), FALSE, ERROR_ACCESS_DENIED),
      ROW(SetEvent(evExecute), FALSE, ERROR_ACCESS_DENIED),
      ROW(WaitForSingleObject(evSync, 0), WAIT_TIMEOUT, 0),
      ROW(WaitForSingleObject(evExecute, 0), WAIT_TIMEOUT, 0),
      ROW(WaitForSingleObject(evModify, 0), WAIT_FAILED, ERROR_ACCESS_DENIED),
      ROW(WaitForSingleObject(evWrite, 0), WAIT_FAILED, ERROR_ACCESS_DENIED),
      ROW(SetEvent(evNone), FALSE, ERROR_ACCESS_DENIED),
      ROW(WaitForSingleObject(evNone, 0), WAIT_FAILED, ERROR_ACCESS_DENIED),
      ROW(SetEvent(evModify), TRUE, 0),
      ROW(ResetEvent(evWrite), TRUE, 0),
      ROW(WaitForSingleObject(mxModify, 0), WAIT_FAILED, ERROR_ACCESS_DENIED),
      ROW(WaitForSingleObject(mxSync, 0), WAIT_OBJECT_0, 0),
      ROW(ReleaseMutex(mxModify), TRUE, 0),  // releasing asks for no right, only ownership
      // One namespace for both kinds; the kind is checked before the rights.
      ROW(Opened(CreateEventW(nullptr, TRUE, FALSE, mutex.c_str())), 0, ERROR_INVALID_HANDLE),
      ROW(Opened(OpenEventW(SYNCHRONIZE, FALSE, mutex.c_str())), 0, ERROR_INVALID_HANDLE),
      ROW(Opened(CreateMutexW(nullptr, FALSE, event.c_str())), 0, ERROR_INVALID_HANDLE),
      ROW(Opened(OpenMutexW(SYNCHRONIZE, FALSE, event.c_str())), 0, ERROR_INVALID_HANDLE),
      ROW(SetEvent(mxSync), FALSE, ERROR_INVALID_HANDLE),
      ROW(ReleaseMutex(evSync), FALSE, ERROR_INVALID_HANDLE),
      // Names: one "Global\" or "Local\" prefix, case-sensitive; no other backslash.
      ROW(Opened(CreateEventW(nullptr, TRUE, FALSE, (event + L"\\b").c_str())), 0, ERROR_PATH_NOT_FOUND),
      ROW(Opened(CreateMutexW(nullptr, FALSE, (L"Global\\" + mutex + L"\\b").c_str())), 0, ERROR_PATH_NOT_FOUND),
      ROW(Opened(OpenEventW(SYNCHRONIZE, FALSE, (L"global\\" + event).c_str())), 0, ERROR_PATH_NOT_FOUND),
      ROW(Opened(OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\" + event).c_str())), 1, 0),
      ROW(Opened(OpenMutexW(SYNCHRONIZE, FALSE, (L"Global\\" + mutex).c_str())), 1, 0),
      ROW(Opened(OpenEventW(SYNCHRONIZE, FALSE, upperEvent.c_str())), 0, ERROR_FILE_NOT_FOUND),
      ROW(Opened(CreateEventW(nullptr, TRUE, FALSE, L"Local\\")), 0, ERROR_INVALID_NAME),
      ROW(Opened(CreateMutexW(nullptr, FALSE, longName.c_str())), 0, ERROR_FILENAME_EXCED_RANGE),
      // Handles.
      ROW(CloseHandle(GetCurrentThread()), TRUE, 0),
      ROW(CloseHandle(GetCurrentProcess()), TRUE, 0),
      ROW(WaitForSingleObject(GetCurrentThread(), 0), WAIT_TIMEOUT, 0),
      ROW(CloseHandle(closed), FALSE, ERROR_INVALID_HANDLE),
      ROW(ReleaseMutex(closed), FALSE, ERROR_INVALID_HANDLE),
      ROW(CloseHandle(nullptr), FALSE, ERROR_INVALID_HANDLE),
      ROW(WaitForSingleObject(closed, 0), WAIT_FAILED, ERROR_INVALID_HANDLE),
      ROW(EmptyWorkingSet(GetCurrentThread()), FALSE, ERROR_INVALID_HANDLE),
  };
#undef ROW
  for (const Case& c : cases) {
    SetLastError(0xDEAD);
    EXPECT_EQ(c.result, c.run()) << c.call;
    if (c.error != 0) EXPECT_EQ(c.error, GetLastError()) << c.call;
  }
  for (HANDLE h : {owner, mutexOwner, evSync, evModify, evExecute, evWrite, evNone, mxSync, mxModify}) CloseHandle(h);
  // A name held only by another process is refused to the other kind, and free once that process is gone.
  const std::wstring parentEvent = UniqueName(L"parent"), childMutex = UniqueName(L"child");
  HANDLE parentHandle = CreateEventW(nullptr, FALSE, FALSE, parentEvent.c_str());
  ASSERT_NE(nullptr, parentHandle);
  int report[2];
  ASSERT_EQ(0, pipe(report));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Reports its CreateMutex on the parent's event name once it holds its own mutex.
    const DWORD error = CreateMutexW(nullptr, FALSE, parentEvent.c_str()) ? 0 : GetLastError();
    if (CreateMutexW(nullptr, FALSE, childMutex.c_str()) && write(report[1], &error, sizeof error) == sizeof error)
      pause();
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
  CloseHandle(parentHandle);
}

DWORD WaitOnOtherThread(HANDLE mutex, DWORD timeoutMs, bool release = true) {
  DWORD result = 0;
  std::thread([&] {
    result = WaitForSingleObject(mutex, timeoutMs);
    if (release && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)) ReleaseMutex(mutex);
  }).join();
  return result;
}

// Owned recursively by one thread and released only by it; abandoned by a thread that ends; shared by name.
TEST(Mutex, OwnershipAbandonmentAndNames) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  ASSERT_NE(nullptr, mutex);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "recursive for the owner";
  BOOL released = TRUE;
  std::thread([&] { released = ReleaseMutex(mutex); }).join();
  EXPECT_FALSE(released) << "only the owner releases";
  EXPECT_TRUE(ReleaseMutex(mutex));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WAIT_TIMEOUT, WaitOnOtherThread(mutex, 150)) << "still held once";
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140)) << "waited the time given";
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0));
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(mutex)) << "not owned";
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
  EXPECT_TRUE(CloseHandle(mutex));
  mutex = CreateMutexW(nullptr, FALSE, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0, /*release=*/false));
  EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(mutex, 1000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "owned and recursive after the take-over";
  EXPECT_TRUE(ReleaseMutex(mutex) && ReleaseMutex(mutex));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0));
  CloseHandle(mutex);
  const std::wstring name = UniqueName(L"shared");
  SetLastError(ERROR_ACCESS_DENIED);
  HANDLE first = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  HANDLE second = CreateMutexW(nullptr, TRUE, name.c_str());
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_NE(first, second);
  EXPECT_EQ(WAIT_TIMEOUT, WaitOnOtherThread(second, 0)) << "the first handle's owner holds it";
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 0)) << "recursive across handles";
  EXPECT_TRUE(ReleaseMutex(second) && ReleaseMutex(first));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(second, 0));
  EXPECT_TRUE(CloseHandle(first) && CloseHandle(second));
  // The last handle gone, the name starts afresh.
  HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  CloseHandle(again);
}

struct Dummy : KernelObject {
  explicit Dummy(std::atomic<int>* alive = nullptr) : alive_(alive ? alive : &ignored_) { ++*alive_; }
  ~Dummy() override { --*alive_; }
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }
  std::atomic<int> ignored_{0};
  std::atomic<int>* alive_;
};

HANDLE H(intptr_t v) { return reinterpret_cast<HANDLE>(v); }
intptr_t V(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

// Java holds handles as ints; closed, pseudo and foreign values are refused.
TEST(HandleTable, ValuesArePositiveDistinctJavaIntsAndClosedOrForeignValuesAreRefused) {
  HANDLE h = RegisterHandle(std::make_shared<Dummy>());
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(V(h) > 0 && V(h) <= 0x7FFFFFFF && V(h) % 4 == 0) << V(h);
  EXPECT_NE(LookupHandle(h), nullptr);
  EXPECT_TRUE(UnregisterHandle(h));
  EXPECT_FALSE(UnregisterHandle(h));
  for (intptr_t v : {V(h), intptr_t(-1), intptr_t(-2), V(h) + 1, intptr_t(1) << 40}) {
    EXPECT_EQ(LookupHandle(H(v)), nullptr) << v;
    EXPECT_FALSE(UnregisterHandle(H(v))) << v;
  }
  EXPECT_EQ(RegisterHandle(nullptr), nullptr);
  // The object lives while any user holds it (a wait in progress).
  std::atomic<int> alive{0};
  h = RegisterHandle(std::make_shared<Dummy>(&alive));
  auto inUse = LookupHandle(h);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(alive.load(), 1);
  inUse.reset();
  EXPECT_EQ(alive.load(), 0);
  // Concurrent registrations get distinct values; half closed at once, a closed value is not handed out again soon.
  constexpr int kThreads = 4, kEach = 25000;
  std::vector<std::vector<intptr_t>> values(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        HANDLE h = RegisterHandle(std::make_shared<Dummy>());
        values[t].push_back(V(h));
        if (i % 2) EXPECT_TRUE(UnregisterHandle(h));
      }
    });
  for (auto& t : threads) t.join();
  std::set<intptr_t> all;
  for (auto& v : values) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), size_t(kThreads * kEach));
  for (auto& v : values)
    for (size_t i = 0; i < v.size(); i += 2) EXPECT_TRUE(UnregisterHandle(H(v[i])));
}

}  // namespace
