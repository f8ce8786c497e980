// Fixture base for tests that call quorvane.dll's native methods through its
// exports, as the JVM does (stdcall, decorated names). The DLL lies one
// folder above the test programs and is loaded once per suite.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "WinTestSupport.h"

namespace qvtest {

class QuorvaneDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryW((ProgramFolder() + L"..\\" QV_WINDOWS_DLL_NAME).c_str()); }
  static void TearDownTestSuite() {
    if (dll_) FreeLibrary(dll_);
    dll_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(nullptr, dll_) << "quorvane.dll did not load: " << GetLastError(); }

  // The method exported as _Java_..._<name>@<bytes>; null (and a failure) when missing.
  template <typename F>
  static F Method(const char* name, int bytes) {
    const std::string symbol =
        "_Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + std::string(name) + "@" + std::to_string(bytes);
    const auto method = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll_, symbol.c_str())));
    EXPECT_NE(nullptr, method) << symbol;
    return method;
  }

 private:
  static inline HMODULE dll_ = nullptr;
};

}  // namespace qvtest
