// Calls quorvane.dll's exports as the JVM does (on i686 stdcall, decorated names), through HotspotJni: each call
// is one native frame, and the test fails on any JNI misuse the env records.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <type_traits>
#include <vector>

#include "HotspotJni.h"
#include "OnWine.h"

namespace qvtest {

using DllJni = HotspotJni;

class QuorvaneDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryW((ProgramFolder() + L"..\\" QV_WINDOWS_DLL_NAME).c_str()); }
  static void TearDownTestSuite() { FreeLibrary(dll_); dll_ = nullptr; }
  void SetUp() override { ASSERT_NE(nullptr, dll_) << "quorvane.dll did not load: " << GetLastError(); }
  void TearDown() override { EXPECT_EQ(std::vector<std::string>(), jni_.faults) << "JNI misuse"; }

  static FARPROC Export(const char* name, size_t arguments) {
    std::string symbol = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + std::string(name);
    if (sizeof(void*) == 4) symbol = "_" + symbol + "@" + std::to_string(8 + 4 * arguments);
    return GetProcAddress(dll_, symbol.c_str());
  }

  // Calls the export the JVM looks up first: _Java_..._<name>@<bytes> on i686,
  // where every argument takes 4 bytes, the plain name on x64. A missing export fails.
  template <typename R, typename... A>
  R Call(const char* name, A... arguments) {
    const auto method = reinterpret_cast<R(JNICALL*)(JNIEnv*, jclass, A...)>(
        reinterpret_cast<void*>(Export(name, sizeof...(A))));
    EXPECT_NE(nullptr, method) << name;
    if (!method) return R();
    jni_.BeginCall(name);
    if constexpr (std::is_void_v<R>) {
      method(jni_.env(), nullptr, arguments...);
      jni_.EndCall(nullptr);
    } else if constexpr (std::is_pointer_v<R>) {
      return static_cast<R>(jni_.EndCall(method(jni_.env(), nullptr, arguments...)));
    } else {
      const R result = method(jni_.env(), nullptr, arguments...);
      jni_.EndCall(nullptr);
      return result;
    }
  }

  HotspotJni jni_;

 private:
  static inline HMODULE dll_ = nullptr;
};

}  // namespace qvtest
