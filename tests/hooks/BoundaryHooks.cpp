// Test-only natives of com.quorvane.test.TestHooks, never shipped: the JNI boundary driven from Java (its exception
// family, guards and holders), PropertiesWrapper and the in-memory snapshot over java.util.Properties.
#include <dlfcn.h>
#include <jni.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "ExceptionReport.h"
#include "Guards.h"
#include "HookSupport.h"
#include "JNIException.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "Properties.h"
#include "PropertiesWrapper.h"

using namespace quorvane;
using namespace quorvane::jni;
using namespace quorvane::jni::hooks;

#define HOOK(name) Java_com_quorvane_test_TestHooks_##name

namespace {

thread_local JNIEnv* vm;             // the real environment behind a ProxyEnv
thread_local std::string* releases;  // the modes a ProxyEnv saw arrays released with, in order

// An environment that passes on the calls of a method that borrows arrays and text, writing down each array's release
// mode (0 copies back, 2 JNI_ABORT drops the copy); or, with `refuse`, one that refuses every String's characters as a
// VM out of memory does. Any other call faults at once.
struct ProxyEnv {
  ProxyEnv(JNIEnv* real, std::string* log, bool refuse) {
    vm = real;
    releases = log;
    std::memset(&table, 0, sizeof table);
    table.ExceptionCheck = [](JNIEnv*) { return vm->ExceptionCheck(); };
    table.GetArrayLength = [](JNIEnv*, jarray a) { return vm->GetArrayLength(a); };
    table.GetStringLength = [](JNIEnv*, jstring s) { return vm->GetStringLength(s); };
    table.GetStringChars = [](JNIEnv*, jstring s, jboolean* c) { return vm->GetStringChars(s, c); };
    table.ReleaseStringChars = [](JNIEnv*, jstring s, const jchar* c) { vm->ReleaseStringChars(s, c); };
    table.NewString = [](JNIEnv*, const jchar* c, jsize n) { return vm->NewString(c, n); };
    table.NewByteArray = [](JNIEnv*, jsize n) { return vm->NewByteArray(n); };
    table.SetByteArrayRegion = [](JNIEnv*, jbyteArray a, jsize at, jsize n, const jbyte* b) {
      vm->SetByteArrayRegion(a, at, n, b);
    };
    table.GetByteArrayElements = [](JNIEnv*, jbyteArray a, jboolean* c) { return vm->GetByteArrayElements(a, c); };
    table.ReleaseByteArrayElements = [](JNIEnv*, jbyteArray a, jbyte* e, jint mode) {
      *releases += std::to_string(mode);
      vm->ReleaseByteArrayElements(a, e, mode);
    };
    table.GetCharArrayElements = [](JNIEnv*, jcharArray a, jboolean* c) { return vm->GetCharArrayElements(a, c); };
    table.ReleaseCharArrayElements = [](JNIEnv*, jcharArray a, jchar* e, jint mode) {
      *releases += std::to_string(mode);
      vm->ReleaseCharArrayElements(a, e, mode);
    };
    if (refuse) {  // only the length of a String may be asked of the real one
      std::memset(&table, 0, sizeof table);
      table.GetStringLength = [](JNIEnv*, jstring s) { return vm->GetStringLength(s); };
      table.GetStringChars = [](JNIEnv*, jstring, jboolean*) -> const jchar* {
        vm->ThrowNew(vm->FindClass("java/lang/OutOfMemoryError"), "refused");
        return nullptr;
      };
    }
    env.functions = &table;
  }
  JNINativeInterface_ table;
  JNIEnv env;
};

// The library's native method of that name, or null.
void* Native(JNIEnv* env, jstring method) {
  void* library = dlopen("libquorvane.so", RTLD_NOW | RTLD_NOLOAD);
  void* native =
      library ? dlsym(library,
                      ("Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + Narrow(Text(env, method))).c_str())
              : nullptr;
  if (library) dlclose(library);
  return native;
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL HOOK(throwWin32)(JNIEnv* env, jclass, jstring cls, jstring message, jint code) {
  return JavaExceptionGuard(env, jboolean(JNI_TRUE), [&]() -> jboolean {
    // Copies: the exception is raised with no holder of the texts alive.
    const std::string classPath = Narrow(Text(env, cls)), text = Narrow(Text(env, message));
    throw JNIException(env, classPath.c_str(), text.c_str(), static_cast<DWORD>(code));
  });
}

// kind: 0 IllegalArgument, 1 Runtime, 2 ClassNotFound, 3 IO, 4 runtime_error, 5 bad_alloc, 6 a non-standard throw.
JNIEXPORT jint JNICALL HOOK(javaGuard)(JNIEnv* env, jclass, jint kind, jstring message) {
  return JavaExceptionGuard(env, jint(-7), [&]() -> jint {
    const std::string narrow = Narrow(Text(env, message));
    switch (kind) {
      case 0: throw IllegalArgumentException(env, narrow.c_str());
      case 1: throw RuntimeException(env, narrow.c_str());
      case 2: throw ClassNotFoundException(env, narrow.c_str());
      case 3: throw IOException(env, narrow.c_str());
      case 4: CHECK(runtime_error, narrow.empty());
              return 0;
      case 5: throw std::bad_alloc();
      case 6: throw 42;
      default: return kind;
    }
  });
}

// kind: 0 IllegalArgumentException, 1 HResultException(hr), 2 std::logic_error, 3 success answering hr.
JNIEXPORT jint JNICALL HOOK(hresultGuard)(JNIEnv* env, jclass, jint kind, jint hr) {
  return HResultGuard([&]() -> jint {
    switch (kind) {
      case 0: throw IllegalArgumentException(env, "bad argument");
      case 1: throw HResultException(hr);
      case 2: CHECK(logic_error, hr == 0);
              return 0;
      default: return hr;
    }
  });
}

// The VM refuses an allocation: its OutOfMemoryError stays pending.
JNIEXPORT jint JNICALL HOOK(outOfMemory)(JNIEnv* env, jclass, jint length) {
  return JavaExceptionGuard(env, jint(-1), [&]() -> jint {
    jintArray array = env->NewIntArray(length);
    if (array == nullptr) throw OutOfMemoryException();
    JavaArrayElements<jint> elements(env, array);
    return elements.Length();
  });
}

JNIEXPORT jstring JNICALL HOOK(echoCharArray)(JNIEnv* env, jclass, jcharArray array) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    JavaChars text(env, array);
    return text.IsNull() ? nullptr : NewJavaString(env, text.chars);
  });
}

// The modes a method released its arrays with: `bytes` is the data it reads, `chars` the text.
JNIEXPORT jstring JNICALL HOOK(releaseModes)(JNIEnv* env, jclass, jstring method, jbyteArray bytes, jcharArray chars) {
  void* native = Native(env, method);
  const std::string name = Narrow(Text(env, method));
  jstring valueName = env->NewStringUTF("released");
  std::string modes;
  ProxyEnv recording(env, &modes, false);
  JNIEnv* e = &recording.env;
  if (name == "RegSetValueEx")
    reinterpret_cast<jint (*)(JNIEnv*, jclass, jint, jstring, jint, jint, jbyteArray, jint)>(native)(
        e, nullptr, static_cast<jint>(0x80000001u), valueName, 0, 3, bytes, 1);
  else if (name == "encryptUserWin32" || name == "decryptUserWin32")
    reinterpret_cast<jbyteArray (*)(JNIEnv*, jclass, jbyteArray)>(native)(e, nullptr, bytes);
  else if (name == "echoCharArray")
    HOOK(echoCharArray)(e, nullptr, chars);
  return env->NewStringUTF(modes.c_str());
}

// The library's native `method` given a text the VM refuses: its answer ("null" for no object), and
// " OutOfMemoryError" when that error was left pending (cleared here).
JNIEXPORT jstring JNICALL HOOK(refusedText)(JNIEnv* env, jclass, jstring method) {
  void* native = Native(env, method);
  const std::string name = Narrow(Text(env, method));
  if (native == nullptr) return env->NewStringUTF("no such native");
  jstring text = env->NewStringUTF("/tmp");
  std::string modes, answer;
  ProxyEnv refusing(env, &modes, true);
  JNIEnv* e = &refusing.env;
  if (name == "CreateFile")
    answer = std::to_string(reinterpret_cast<jint (*)(JNIEnv*, jclass, jstring, jint, jint, jint, jint, jint, jint)>(
        native)(e, nullptr, text, 0, 7, 0, OPEN_EXISTING, 0, 0));
  else if (name == "SetFileAttributes")
    answer = std::to_string(reinterpret_cast<jboolean (*)(JNIEnv*, jclass, jstring, jint)>(native)(e, nullptr, text, 0));
  else if (name == "QueryDosDevice")
    answer = reinterpret_cast<jstring (*)(JNIEnv*, jclass, jstring)>(native)(e, nullptr, text) ? "a text" : "null";
  else
    answer = std::to_string(reinterpret_cast<jint (*)(JNIEnv*, jclass, jstring)>(native)(e, nullptr, text));
  jthrowable pending = env->ExceptionOccurred();
  env->ExceptionClear();
  if (pending && env->IsInstanceOf(pending, env->FindClass("java/lang/OutOfMemoryError"))) answer += " OutOfMemoryError";
  return env->NewStringUTF(answer.c_str());
}

// Adds delta to every int, fills the bytes with delta and upper-cases the chars natively; each holder copies back.
JNIEXPORT void JNICALL HOOK(changeArrays)(JNIEnv* env, jclass, jintArray ints, jint delta, jbyteArray bytes,
                                          jcharArray chars) {
  JavaExceptionGuardVoid(env, [&] {
    JavaArrayElements<jint> i(env, ints);
    JavaArrayElements<jbyte> b(env, bytes);
    JavaArrayElements<jchar> c(env, chars);
    for (jsize n = 0; n < i.Length(); ++n) i.elements[n] += delta;
    for (jsize n = 0; n < b.Length(); ++n) b.elements[n] = static_cast<jbyte>(delta);
    for (jsize n = 0; n < c.Length(); ++n)
      if (c.elements[n] >= 'a' && c.elements[n] <= 'z') c.elements[n] -= 32;
  });
}

// -1 for a null text, else the number of wide characters before the terminator.
JNIEXPORT jint JNICALL HOOK(wideLength)(JNIEnv* env, jclass, jstring string) {
  return JavaExceptionGuard(env, jint(-2), [&]() -> jint {
    JavaChars text(env, string);
    if (text.chars == nullptr) return -1;
    jint n = 0;
    while (text.chars[n] != 0) ++n;
    return n;
  });
}

JNIEXPORT jstring JNICALL HOOK(echo)(JNIEnv* env, jclass, jstring string) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    JavaChars text(env, string);
    return text.IsNull() ? nullptr : NewJavaString(env, text.chars);
  });
}

// op: 0 Get, 1 Has ("true"/"false"), 2 Set, 3 Remove, 4 GetDate, 5 SetDate (Property); the result as text, or null.
JNIEXPORT jstring JNICALL HOOK(wrapperOp)(JNIEnv* env, jclass, jobject properties, jint op, jstring name,
                                          jstring value) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    PropertiesWrapper wrapper(env, properties);
    const std::wstring key = Text(env, name);
    switch (op) {
      case 0: {
        const TextHandle text = wrapper.GetProperty(key);
        return text ? NewJavaString(env, *text) : nullptr;
      }
      case 1: return NewJavaString(env, wrapper.HasProperty(key) ? L"true" : L"false");
      case 2: wrapper.SetProperty(key, Text(env, value)); return nullptr;
      case 3: wrapper.RemoveProperty(key); return nullptr;
      case 4: wrapper.GetDateProperty(key); return nullptr;
      case 5: wrapper.SetDateProperty(key, boost::posix_time::second_clock::universal_time()); return nullptr;
      default: return nullptr;
    }
  });
}

JNIEXPORT jobjectArray JNICALL HOOK(propertyNames)(JNIEnv* env, jclass, jobject properties) {
  return JavaExceptionGuard(env, jobjectArray(nullptr), [&]() -> jobjectArray {
    PropertiesWrapper wrapper(env, properties);
    const NameList names = wrapper.GetPropertyNames();
    return StringArray(env, *names);
  });
}

JNIEXPORT void JNICALL HOOK(setText)(JNIEnv* env, jclass, jobject properties, jstring name, jbyteArray ansi) {
  JavaExceptionGuardVoid(env, [&] {
    PropertiesWrapper wrapper(env, properties);
    JavaArrayElements<jbyte> bytes(env, ansi);
    std::string value(reinterpret_cast<const char*>(bytes.elements), static_cast<size_t>(bytes.Length()));
    wrapper.SetText(Text(env, name).c_str(), value.c_str());
  });
}

// The fallback of SetText for bytes the code page refused.
JNIEXPORT jstring JNICALL HOOK(unconvertedBytes)(JNIEnv* env, jclass, jbyteArray raw) {
  return JavaExceptionGuard(env, jstring(nullptr), [&]() -> jstring {
    JavaArrayElements<jbyte> bytes(env, raw);
    std::string value(reinterpret_cast<const char*>(bytes.elements), static_cast<size_t>(bytes.Length()));
    return NewStringFromUnconvertedBytes(env, value.c_str());
  });
}

JNIEXPORT jint JNICALL HOOK(ansiCodePage)(JNIEnv*, jclass) { return static_cast<jint>(GetACP()); }

// Copies source into target through a snapshot, given a date-time there that the Java side cannot hold.
JNIEXPORT void JNICALL HOOK(copyThroughSnapshot)(JNIEnv* env, jclass, jobject source, jobject target) {
  JavaExceptionGuardVoid(env, [&] {
    PropertiesWrapper from(env, source);
    PropertiesWrapper to(env, target);
    Properties snapshot(from);
    snapshot.SetDateProperty(L"snapshot date", boost::posix_time::time_from_string("2004-03-05 07:08:09"));
    snapshot.CopyTo(to);
  });
}

}  // extern "C"
