// Test-only natives of com.quorvane.test.PropertiesHooks: they drive
// PropertiesWrapper and the in-memory snapshot over java.util.Properties
// objects from Java. Never shipped.
#include <jni.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <string>
#include <vector>

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

#define HOOK(name) Java_com_quorvane_test_PropertiesHooks_##name

extern "C" {

// op: 0 GetProperty, 1 HasProperty ("true"/"false"), 2 SetProperty,
// 3 RemoveProperty, 4 GetDateProperty, 5 SetDateProperty. Answers the
// result as text (null for an absent value or no result).
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

// Copies source into target through an in-memory snapshot, after adding a
// date-time to the snapshot (which the Java side cannot hold).
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
