// Fixture base for tests that call quorvane.dll's native methods through its
// exports, as the JVM does (stdcall, decorated names). The DLL lies one
// folder above the test programs and is loaded once per suite.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "FakeJni.h"
#include "OnWine.h"

namespace qvtest {

class QuorvaneDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryW((ProgramFolder() + L"..\\" QV_WINDOWS_DLL_NAME).c_str()); }
  static void TearDownTestSuite() { FreeLibrary(dll_); dll_ = nullptr; }
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

// FakeJni plus int[] (a vector<jint>), NewStringUTF, method ids and
// NetworkAddress objects (an int[] of their setAddress values) added to a set
// (`added`). Win32Exception's constructor is never found: a failure arrives
// as ThrowNew's "<text>: 0x<CODE>".
class DllJni : public FakeJni {
 public:
  DllJni() : table_(*FakeJni::env()->functions), fakeLength_(table_.GetArrayLength) {
    table_.reserved1 = this;
#define QV_ADD(f) table_.f = f;
    QV_ADD(GetArrayLength) QV_ADD(GetIntArrayElements) QV_ADD(ReleaseIntArrayElements)
    QV_ADD(NewStringUTF) QV_ADD(ExceptionClear) QV_ADD(GetMethodID)
    // jni.h's C++ wrappers call the va_list forms.
    QV_ADD(NewObjectV) QV_ADD(CallVoidMethodV) QV_ADD(CallBooleanMethodV)
#undef QV_ADD
    env_.functions = &table_;
  }
  JNIEnv* env() { return &env_; }

  jintArray NewInts(std::vector<jint> v) { return reinterpret_cast<jintArray>(&ints_.emplace_back(std::move(v))); }
  static std::vector<jint>& Ints(jintArray a) { return *reinterpret_cast<std::vector<jint>*>(a); }
  jstring Str(const std::wstring& s) { return reinterpret_cast<jstring>(NewText(Units(s))); }
  jbyteArray Bytes(const std::string& b) {
    Value* v = NewBytes(b.size());
    v->bytes.assign(b.begin(), b.end());
    return reinterpret_cast<jbyteArray>(v);
  }
  static std::vector<jbyte>& BytesOf(jbyteArray a) { return reinterpret_cast<Value*>(a)->bytes; }
  static std::u16string Units(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
  static std::u16string TextOf(jobject s) { return Text(reinterpret_cast<Value*>(s)); }

  std::vector<std::vector<jint>> added;

 private:
  static DllJni& Of(JNIEnv* e) { return *static_cast<DllJni*>(e->functions->reserved1); }
  static jsize JNICALL GetArrayLength(JNIEnv* e, jarray a) {
    for (auto& v : Of(e).ints_)
      if (reinterpret_cast<jarray>(&v) == a) return static_cast<jsize>(v.size());
    return Of(e).fakeLength_(e, a);
  }
  static jint* JNICALL GetIntArrayElements(JNIEnv*, jintArray a, jboolean*) { return Ints(a).data(); }
  static void JNICALL ReleaseIntArrayElements(JNIEnv*, jintArray, jint*, jint) {}
  static jstring JNICALL NewStringUTF(JNIEnv* e, const char* s) { return Of(e).Str(std::wstring(s, s + strlen(s))); }
  static void JNICALL ExceptionClear(JNIEnv* e) { Of(e).pending.clear(); }
  static jmethodID JNICALL GetMethodID(JNIEnv* e, jclass, const char*, const char* signature) {
    if (std::string(signature) != "(Ljava/lang/String;I)V") return reinterpret_cast<jmethodID>(1);
    Of(e).pending = "NoSuchMethodError";
    return nullptr;
  }
  static jobject JNICALL NewObjectV(JNIEnv* e, jclass, jmethodID, va_list) { return Of(e).NewInts({}); }
  static void JNICALL CallVoidMethodV(JNIEnv*, jobject address, jmethodID, va_list args) {
    for (int i = 0; i < 8; ++i) Ints(jintArray(address)).push_back(va_arg(args, jint));
  }
  static jboolean JNICALL CallBooleanMethodV(JNIEnv* e, jobject, jmethodID, va_list args) {
    Of(e).added.push_back(Ints(jintArray(va_arg(args, jobject))));
    return JNI_TRUE;
  }

  JNINativeInterface_ table_;
  jsize(JNICALL* fakeLength_)(JNIEnv*, jarray);
  JNIEnv env_;
  std::deque<std::vector<jint>> ints_;  // stable addresses
};

}  // namespace qvtest
