// Process services, registered window messages, and the window services
// with no reachable display (the Xvfb cases run from Java).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "Win32Api.h"

namespace {

HWND Hwnd(uintptr_t id) { return reinterpret_cast<HWND>(id); }

// Sets DISPLAY for the test's lifetime.
class DisplayVariable {
 public:
  explicit DisplayVariable(const char* value) {
    const char* old = getenv("DISPLAY");
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv("DISPLAY", value, 1);
    else
      unsetenv("DISPLAY");
  }
  ~DisplayVariable() {
    if (had_)
      setenv("DISPLAY", old_.c_str(), 1);
    else
      unsetenv("DISPLAY");
  }

 private:
  bool had_ = false;
  std::string old_;
};

void ExpectEveryWindowCallFails() {
  const auto start = std::chrono::steady_clock::now();
  LASTINPUTINFO info = {sizeof(LASTINPUTINFO), 77};
  EXPECT_FALSE(GetLastInputInfo(&info));
  EXPECT_FALSE(SetLayeredWindowAttributes(Hwnd(0x400001), 0, 128, LWA_ALPHA));
  EXPECT_FALSE(FlashWindow(Hwnd(0x400001), TRUE));
  EXPECT_FALSE(AnimateWindow(Hwnd(0x400001), 100, AW_BLEND));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
}

}  // namespace

TEST(Process, ErrorModeIsProcessWideAndReturnsThePreviousMode) {
  const UINT original = SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(SetErrorMode(SEM_NOOPENFILEERRORBOX), UINT(SEM_FAILCRITICALERRORS));
  UINT seen = 0;
  std::thread([&] { seen = SetErrorMode(SEM_NOALIGNMENTFAULTEXCEPT); }).join();
  EXPECT_EQ(seen, UINT(SEM_NOOPENFILEERRORBOX));
  // Once set, "no alignment fault" stays, as on Windows.
  EXPECT_EQ(SetErrorMode(0), UINT(SEM_NOALIGNMENTFAULTEXCEPT));
  EXPECT_EQ(SetErrorMode(original), UINT(SEM_NOALIGNMENTFAULTEXCEPT));
}

TEST(Process, WorkingSetCallsTakeOnlyTheCurrentProcess) {
  HANDLE self = GetCurrentProcess();
  EXPECT_EQ(reinterpret_cast<intptr_t>(self), -1);
  EXPECT_TRUE(EmptyWorkingSet(self));
  EXPECT_TRUE(SetProcessWorkingSetSize(self, SIZE_T(-1), SIZE_T(-1)));
  EXPECT_TRUE(SetProcessWorkingSetSize(self, 1 << 20, 8 << 20));
  SIZE_T low = 0, high = 0;
  EXPECT_TRUE(GetProcessWorkingSetSize(self, &low, &high));
  EXPECT_EQ(low, SIZE_T(1) << 20);
  EXPECT_EQ(high, SIZE_T(8) << 20);
  EXPECT_FALSE(SetProcessWorkingSetSize(self, 8 << 20, 1 << 20));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (HANDLE notAProcess : {event, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(intptr_t(-2))}) {
    EXPECT_FALSE(EmptyWorkingSet(notAProcess));
    EXPECT_FALSE(SetProcessWorkingSetSize(notAProcess, 1 << 20, 8 << 20));
  }
  CloseHandle(event);
}

TEST(Process, TickCountFollowsTheBootClock) {
  const DWORD before = GetTickCount();
  usleep(50 * 1000);
  const DWORD after = GetTickCount();
  EXPECT_GE(after - before, 50u);
  EXPECT_LT(after - before, 5000u);
}

TEST(WindowMessages, NamesMapToStableNumbersWithoutRegardToCase) {
  const std::wstring name = L"QV Test Message " + std::to_wstring(getpid()) + L" \u00e4\u00df";
  const UINT id = RegisterWindowMessageW(name.c_str());
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  std::wstring upper = L"qv test MESSAGE " + std::to_wstring(getpid()) + L" \u00c4\u00df";
  EXPECT_EQ(RegisterWindowMessageW(upper.c_str()), id);
  const UINT other = RegisterWindowMessageW((name + L"!").c_str());
  EXPECT_NE(other, id);
  EXPECT_GE(other, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageW(nullptr), 0u);
  EXPECT_EQ(RegisterWindowMessageW(L""), 0u);
  EXPECT_EQ(RegisterWindowMessageW(std::wstring(256, L'm').c_str()), 0u);
  EXPECT_NE(RegisterWindowMessageW(std::wstring(255, L'm').c_str()), 0u);
  // Another process sees the same table.
  const pid_t child = fork();
  if (child == 0) _exit(RegisterWindowMessageW(upper.c_str()) == id ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(WindowHeadless, NoDisplayMeansFalseEverywhere) {
  DisplayVariable unset(nullptr);
  ExpectEveryWindowCallFails();
}

TEST(WindowHeadless, UnreachableOrMalformedDisplaysFailQuickly) {
  for (const char* value : {":", "::0", "nohost.invalid:0", ":99999999", ":4711", "garbage", ""}) {
    DisplayVariable display(value);
    ExpectEveryWindowCallFails();
  }
  LASTINPUTINFO wrongSize = {4, 0};
  EXPECT_FALSE(GetLastInputInfo(&wrongSize));
  EXPECT_FALSE(GetLastInputInfo(nullptr));
}

TEST(WindowHeadless, AServerThatNeverAnswersDoesNotHangTheCaller) {
  // Accepts connections (the kernel's backlog) and never says a word.
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string path = "/tmp/qv-silent-x-" + std::to_string(getpid());
  std::strcpy(address.sun_path, path.c_str());
  unlink(path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 16), 0);
  {
    DisplayVariable display((path + ":0").c_str());
    ExpectEveryWindowCallFails();
  }
  close(listener);
  unlink(path.c_str());
}
