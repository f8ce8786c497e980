#include "JNIException.h"

#include <cstdlib>
#include <cstring>

#include "Assert.h"

namespace quorvane {
namespace jni {

bool throwNew(JNIEnv* env, const char* exception, const char* message) {
  jclass cls = env->FindClass(exception);
  if (cls == nullptr) return false;
  const bool raised = env->ThrowNew(cls, message) == 0;
  env->DeleteLocalRef(cls);
  return raised;
}

namespace {
void RaiseNamed(JNIEnv* env, const char* exception, const char* message) {
  QV_ASSERT(throwNew(env, exception, message));
}
}  // namespace

JNIException::JNIException(JNIEnv* env, const char* exception, const char* message, DWORD code) {
  jclass cls = env->FindClass(exception);
  if (cls == nullptr) return;  // the VM's NoClassDefFoundError stays pending

  jmethodID ctor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;I)V");
  if (ctor != nullptr) {
    jstring jMessageStr = env->NewStringUTF(message);
    QV_ASSERT(jMessageStr != NULL);
    jobject error = env->NewObject(cls, ctor, jMessageStr, static_cast<jint>(code));
    if (error != nullptr) {
      env->Throw(static_cast<jthrowable>(error));
      env->DeleteLocalRef(error);
    }
    env->DeleteLocalRef(jMessageStr);
    env->DeleteLocalRef(cls);
    return;
  }

  // No (String, int) constructor: the lookup left NoSuchMethodError pending.
  env->ExceptionClear();
  env->DeleteLocalRef(cls);
  const size_t size = std::strlen(message) + 512;
  char* buf = static_cast<char*>(std::malloc(size));
  QV_ASSERT(buf != NULL);
  if (SUCCEEDED(StringCchPrintfA(buf, size, "%s: 0x%X", message, static_cast<unsigned>(code)))) {
    QV_ASSERT(throwNew(env, exception, buf));
  }
  std::free(buf);
}

IllegalArgumentException::IllegalArgumentException(JNIEnv* env, const char* message) {
  RaiseNamed(env, "java/lang/IllegalArgumentException", message);
}

RuntimeException::RuntimeException(JNIEnv* env, const char* message) {
  RaiseNamed(env, "java/lang/RuntimeException", message);
}

ClassNotFoundException::ClassNotFoundException(JNIEnv* env, const char* message) {
  RaiseNamed(env, "java/lang/ClassNotFoundException", message);
}

IOException::IOException(JNIEnv* env, const char* message) {
  RaiseNamed(env, "java/io/IOException", message);
}

}  // namespace jni
}  // namespace quorvane
