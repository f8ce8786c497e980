// The process error mode; window services facing a silent display server (Xvfb and no display: Java);
// registered window messages beside a stopped writer.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "SettingsTestSupport.h"
#include "Win32Api.h"
#include "posix/kernel/ObjectNamespace.h"

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

TEST(WindowHeadless, AServerThatNeverAnswersDoesNotHangTheCaller) {
  settings_test::SilentServer silent;
  settings_test::ScopedVariable display("DISPLAY", silent.Path() + ":0");
  const auto start = std::chrono::steady_clock::now();
  LASTINPUTINFO info = {sizeof(LASTINPUTINFO), 77};
  const HWND window = reinterpret_cast<HWND>(0x400001);
  EXPECT_FALSE(GetLastInputInfo(&info));
  EXPECT_FALSE(SetLayeredWindowAttributes(window, 0, 128, LWA_ALPHA));
  EXPECT_FALSE(FlashWindow(window, TRUE));
  EXPECT_FALSE(AnimateWindow(window, 100, AW_BLEND));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
  LASTINPUTINFO wrongSize = {4, 0};
  EXPECT_FALSE(GetLastInputInfo(&wrongSize));
  EXPECT_FALSE(GetLastInputInfo(nullptr));
}

TEST(WindowMessages, ANameAlreadyRegisteredIsFoundWhileAnotherWriterHoldsTheTable) {
  const std::wstring name = L"qv-test-message-" + std::to_wstring(getpid());
  const UINT id = RegisterWindowMessageW(name.c_str());
  ASSERT_GE(id, 0xC000u);
  sqlite3* writer = nullptr;
  const std::string table = quorvane::posix::UserObjectDirectory() + "/window-messages.sqlite3";
  ASSERT_EQ(SQLITE_OK, sqlite3_open(table.c_str(), &writer));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  // Waiting for that writer would end in 0 after the busy timeout.
  EXPECT_EQ(id, RegisterWindowMessageW(name.c_str()));
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
}
