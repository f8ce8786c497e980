// The ExportedMethods suite's fixture: every export of the DLL called through HotspotJni in rows, each checking
// the answer against the platform (the Win32 API called by the test, or a file's contents). At the end the suite
// prints "41 exports, N functional rows, F faults" and fails unless every export of native/jni/exports.txt had a
// row and F (JNI misuse plus failed rows) is 0.
#pragma once

#include <gtest/gtest.h>

#include <winsock2.h>  // before windows.h, as Win32Api.h includes it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "QuorvaneDll.h"
#include "SettingsTestSupport.h"

namespace qvtest {

class ExportedMethods : public QuorvaneDll {
 protected:
  static void SetUpTestSuite() {
    QuorvaneDll::SetUpTestSuite();
    covered_.clear(), rows_ = 0, failures_ = 0;
  }
  static void TearDownTestSuite() {
    std::string missing;
    for (const std::string& name : Listed())
      if (!covered_.count(name)) missing += " " + name;
    std::printf("%zu exports, %d functional rows, %d faults\n", covered_.size(), rows_, failures_);
    std::fflush(stdout);
    if (!missing.empty() || Listed().empty()) ADD_FAILURE() << "exports without a checked row:" << missing;
    if (failures_ != 0) ADD_FAILURE() << failures_ << " faults";
    QuorvaneDll::TearDownTestSuite();
  }
  void TearDown() override {
    failures_ += static_cast<int>(jni_.faults.size());
    QuorvaneDll::TearDown();
  }

  // One checked row of `method`: counted when done; a failed check or JNI misuse in it counts as a fault, and so
  // does a row that never called its method.
  void Row(const char* method, const std::string& what, const std::function<void()>& check) {
    SCOPED_TRACE(std::string(method) + ": " + what);
    const int failedBefore = FailedParts();
    const size_t faultsBefore = jni_.faults.size();
    const size_t calledBefore = calls_.size();
    check();
    bool called = false;
    for (size_t i = calledBefore; i < calls_.size(); ++i) called |= calls_[i] == method;
    EXPECT_TRUE(called) << "the row never called " << method;
    ++rows_;
    covered_.insert(method);
    if (FailedParts() != failedBefore || jni_.faults.size() != faultsBefore) ++failures_;
  }

  jstring Str(const std::filesystem::path& p) { return jni_.Str(p.wstring()); }
  // A window of the test's own; null where the platform cannot make one (Wine needs a display for it).
  static HWND NewWindow(DWORD extendedStyle = 0) {
    WNDCLASSW c = {};
    c.lpfnWndProc = DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"QvTestWindow";
    RegisterClassW(&c);
    return CreateWindowExW(extendedStyle, c.lpszClassName, L"qv", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, c.hInstance, nullptr);
  }
  static HANDLE Handle(jint h) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(h)); }

  settings_test::TempFolder temp_;
  const std::filesystem::path folder_ = temp_.Path();

 private:
  static int FailedParts() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) failed += result->GetTestPartResult(i).failed();
    return failed;
  }
  // The method names of native/jni/exports.txt.
  static std::vector<std::string> Listed() {
    std::vector<std::string> names;
    const char* source = std::getenv("QV_SOURCE_DIR");
    std::ifstream table(std::string(source ? source : ".") + "/native/jni/exports.txt");
    for (std::string line; std::getline(table, line);)
      if (!line.empty() && line[0] != '#') names.push_back(line.substr(0, line.find(' ')));
    return names;
  }

  static inline std::set<std::string> covered_;
  static inline int rows_ = 0, failures_ = 0;
};

}  // namespace qvtest
