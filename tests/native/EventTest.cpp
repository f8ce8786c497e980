// Events: reset modes, time-outs, waking rules, and named events shared with
// other processes, including processes that die holding them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Win32Api.h"

namespace {

using Clock = std::chrono::steady_clock;

std::wstring UniqueName(const wchar_t* what) {
  return L"qv-test-" + std::to_wstring(getpid()) + L"-" + std::to_wstring(Clock::now().time_since_epoch().count()) +
         L"-" + what;
}

// Runs `body` in a child process; its exit status is body's result.
pid_t Child(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits on `event` in `count` threads; counts how many got through.
struct Waiters {
  Waiters(HANDLE event, int count, DWORD timeoutMs) {
    for (int i = 0; i < count; ++i)
      threads.emplace_back([=] {
        if (WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0) ++woken;
      });
  }
  ~Waiters() {
    for (auto& t : threads) t.join();
  }
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
};

void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

}  // namespace

TEST(Event, AutoResetReleasesExactlyOneWaiterPerSet) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  {
    Waiters waiters(event, 3, 5000);
    Settle();
    EXPECT_TRUE(SetEvent(event));
    Settle();
    EXPECT_EQ(waiters.woken.load(), 1);
    SetEvent(event);
    Settle();
    EXPECT_EQ(waiters.woken.load(), 2);
    SetEvent(event);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, ManualResetReleasesEveryWaiterEvenWhenResetAtOnce) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    Waiters waiters(event, 3, 5000);
    Settle();
    SetEvent(event);
    ResetEvent(event);
    Settle();
    EXPECT_EQ(waiters.woken.load(), 3);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(NamedEvent, OneNameOneEvent) {
  const std::wstring name = UniqueName(L"one");
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
  HANDLE first = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  // The second creation opens the first event: its arguments are ignored.
  HANDLE second = CreateEventW(nullptr, TRUE, TRUE, (L"Local\\" + name).c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  HANDLE opened = OpenEventW(SYNCHRONIZE, TRUE, name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  SetEvent(first);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);  // auto reset, shared
  for (HANDLE h : {first, second, opened}) EXPECT_TRUE(CloseHandle(h));
  // Gone with its last handle: a new creation takes its own arguments.
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  HANDLE fresh = CreateEventW(nullptr, TRUE, TRUE, name.c_str());
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0);
  CloseHandle(fresh);
}

TEST(NamedEvent, AwkwardAndLongNamesStayDistinct) {
  const std::wstring base = UniqueName(L"a/b%c\\..\u00e9\U0001F600");
  const std::wstring longA = base + std::wstring(200, L'x') + L"A";
  const std::wstring longB = base + std::wstring(200, L'x') + L"B";
  HANDLE a = CreateEventW(nullptr, TRUE, TRUE, longA.c_str());
  HANDLE b = CreateEventW(nullptr, TRUE, FALSE, longB.c_str());
  HANDLE c = CreateEventW(nullptr, TRUE, FALSE, base.c_str());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, std::wstring(MAX_PATH + 1, L'n').c_str()), nullptr);
  for (HANDLE h : {a, b, c}) CloseHandle(h);
}

TEST(NamedEvent, AProcessThatDiesHoldingTheLastHandleLeavesNothingBehind) {
  const std::wstring name = UniqueName(L"crash");
  const pid_t child = Child([&] {
    HANDLE h = CreateEventW(nullptr, TRUE, TRUE, name.c_str());
    return h != nullptr ? 0 : 1;  // exits without closing
  });
  ASSERT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);  // our arguments, not the dead creator's
  CloseHandle(h);
}

TEST(NamedEvent, SetInAnotherProcessThatExitsWithoutClosing) {
  const std::wstring name = UniqueName(L"signal");
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  const pid_t child = Child([&] {
    usleep(200 * 1000);
    HANDLE mine = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
    return mine != nullptr && GetLastError() == DWORD(ERROR_ALREADY_EXISTS) && SetEvent(mine) ? 0 : 1;
  });
  EXPECT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  CloseHandle(h);
}

TEST(NamedEvent, AutoResetWakesOneWaiterAcrossProcessesAndSurvivesAKilledWaiter) {
  const std::wstring name = UniqueName(L"across");
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  const auto waitingChild = [&] {
    HANDLE mine = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    return mine != nullptr && WaitForSingleObject(mine, 10000) == WAIT_OBJECT_0 ? 0 : 1;
  };
  // A waiter killed in its wait must not swallow a later signal.
  const pid_t victim = Child(waitingChild);
  Settle();
  kill(victim, SIGKILL);
  waitpid(victim, nullptr, 0);

  const pid_t a = Child(waitingChild);
  const pid_t b = Child(waitingChild);
  Settle();
  SetEvent(h);
  Settle();
  int exited = 0;
  for (pid_t p : {a, b}) {
    int status = 0;
    if (waitpid(p, &status, WNOHANG) == p) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      ++exited;
    }
  }
  EXPECT_EQ(exited, 1);
  SetEvent(h);
  EXPECT_EQ(ExitStatus(a), 0);
  EXPECT_EQ(ExitStatus(b), 0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
  CloseHandle(h);
}
