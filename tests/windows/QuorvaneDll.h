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

// The records the shell and RPC methods take (HotspotJni::NewRecord).
inline constexpr char kNotifyIconRecord[] =
    "I hWnd,I uID,I uFlags,I uCallbackMessage,I hIcon,[C szTip 128,I dwState,I dwStateMask,[C szInfo 256,"
    "I uTimeout,I uVersion,[C szInfoTitle 64,I dwInfoFlags";
inline constexpr char kFileInfoRecord[] = "I hIcon,I iIcon,I dwAttributes,[C szDisplayName 260,[C szTypeName 80";
inline constexpr char kFileOperationRecord[] =
    "I hWnd,I wFunc,T pFrom,T pTo,S fFlags,Z fAnyOperationsAborted,I hNameMappings,T lpszProgressTitle";
inline constexpr char kGuidRecord[] = "I Data1,I Data2,I Data3,[B Data4 8";

class QuorvaneDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryW((ProgramFolder() + L"..\\" QV_WINDOWS_DLL_NAME).c_str()); }
  static void TearDownTestSuite() { FreeLibrary(dll_); dll_ = nullptr; }
  void SetUp() override { ASSERT_NE(nullptr, dll_) << "quorvane.dll did not load: " << GetLastError(); }
  void TearDown() override { EXPECT_EQ(std::vector<std::string>(), jni_.faults) << "JNI misuse"; }

  static FARPROC Export(const char* name, size_t arguments,
                        const char* cls = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_") {
    std::string symbol = cls + std::string(name);
    if (sizeof(void*) == 4) symbol = "_" + symbol + "@" + std::to_string(8 + 4 * arguments);
    return GetProcAddress(dll_, symbol.c_str());
  }

  // Calls the export the JVM looks up first: _Java_..._<name>@<bytes> on i686,
  // where every argument takes 4 bytes, the plain name on x64. A missing export fails.
  template <typename R, typename... A>
  R Call(const char* name, A... arguments) {
    const auto method = reinterpret_cast<R(JNICALL*)(JNIEnv*, jclass, A...)>(
        reinterpret_cast<void*>(class_ ? Export(name, sizeof...(A), class_) : Export(name, sizeof...(A))));
    EXPECT_NE(nullptr, method) << name;
    calls_.push_back(name);
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
  std::vector<std::string> calls_;  // the methods called, in order
  const char* class_ = nullptr;     // the exports' prefix when not Win32Impl's

 private:
  static inline HMODULE dll_ = nullptr;
};

}  // namespace qvtest
