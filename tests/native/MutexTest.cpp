// Mutexes of the Linux layer: thread ownership, recursion, time-outs,
// abandonment, and names shared by handles.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "Win32Api.h"

namespace {

DWORD WaitOnOtherThread(HANDLE mutex, DWORD timeoutMs, bool release = true) {
  DWORD result = 0;
  std::thread([&] {
    result = WaitForSingleObject(mutex, timeoutMs);
    if (release && (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)) ReleaseMutex(mutex);
  }).join();
  return result;
}

TEST(Mutex, OwnedRecursivelyByOneThreadAndReleasedOnlyByIt) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  ASSERT_NE(nullptr, mutex);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "recursive for the owner";
  BOOL released = TRUE;
  std::thread([&] { released = ReleaseMutex(mutex); }).join();
  EXPECT_FALSE(released) << "only the owner releases";
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WAIT_TIMEOUT, WaitOnOtherThread(mutex, 0)) << "still held once";
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0));
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(mutex)) << "not owned";
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(ReleaseMutex(event)) << "an event is not a mutex";
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  CloseHandle(event);
}

TEST(Mutex, TimeOutWaitsAboutTheTimeGiven) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WAIT_TIMEOUT, WaitOnOtherThread(mutex, 150));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

TEST(Mutex, AThreadThatEndsHoldingItAbandonsIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0, /*release=*/false));
  EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(mutex, 1000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "owned and recursive after the take-over";
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(mutex, 0));
  CloseHandle(mutex);
}

TEST(Mutex, HandlesOfOneNameShareTheMutex) {
  const std::wstring name = L"qv-test-" + std::to_wstring(getpid()) + L"-shared";
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
  EXPECT_TRUE(ReleaseMutex(second));
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_EQ(WAIT_OBJECT_0, WaitOnOtherThread(second, 0));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  // The last handle gone, the name starts afresh.
  HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  CloseHandle(again);
}

}  // namespace
