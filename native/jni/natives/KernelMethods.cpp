// Win32Impl kernel and process services: events, waits, handles, error mode
// and working set. Pass-throughs: the platform's result comes back unchanged
// and its last-error code is not read. Only the methods that borrow a name
// can fail on the Java side, and they end in the Java-exception guard.
#include "Exports.h"
#include "Guards.h"
#include "JavaChars.h"
#include "NativeHandles.h"
#include "Win32Api.h"

using namespace quorvane::jni;

extern "C" {

JNIEXPORT jint JNICALL QV_NATIVE(SetEvent)(JNIEnv*, jclass, jint event) {
  return ::SetEvent(HandleFromJava(event));
}

JNIEXPORT jint JNICALL QV_NATIVE(ResetEvent)(JNIEnv*, jclass, jint event) {
  return ::ResetEvent(HandleFromJava(event));
}

JNIEXPORT jint JNICALL QV_NATIVE(WaitForSingleObject)(JNIEnv*, jclass, jint handle, jint milliseconds) {
  return static_cast<jint>(::WaitForSingleObject(HandleFromJava(handle), static_cast<DWORD>(milliseconds)));
}

JNIEXPORT jint JNICALL QV_NATIVE(CloseHandle)(JNIEnv*, jclass, jint handle) {
  return ::CloseHandle(HandleFromJava(handle));
}

JNIEXPORT jint JNICALL QV_NATIVE(CreateEvent)(JNIEnv* env, jclass, jint securityAttributes, jboolean manualReset,
                                              jboolean initialState, jstring name) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars text(env, name);
    LPSECURITY_ATTRIBUTES attributes;
    if (!SecurityAttributesFromJava(securityAttributes, &attributes)) return jint(0);
    HANDLE event = ::CreateEventW(attributes, BoolFromJava(manualReset), BoolFromJava(initialState), text.chars);
    return HandleToJava(event);
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(OpenEvent)(JNIEnv* env, jclass, jint desiredAccess, jboolean inheritHandle,
                                            jstring name) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars text(env, name);
    return HandleToJava(::OpenEventW(static_cast<DWORD>(desiredAccess), BoolFromJava(inheritHandle), text.chars));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(SetErrorMode)(JNIEnv*, jclass, jint mode) {
  return static_cast<jint>(::SetErrorMode(static_cast<UINT>(mode)));
}

JNIEXPORT jint JNICALL QV_NATIVE(GetCurrentProcess)(JNIEnv*, jclass) { return HandleToJava(::GetCurrentProcess()); }

JNIEXPORT jint JNICALL QV_NATIVE(SetProcessWorkingSetSize)(JNIEnv*, jclass, jint process, jint minimum,
                                                           jint maximum) {
  return ::SetProcessWorkingSetSize(HandleFromJava(process), SizeFromJava(minimum), SizeFromJava(maximum));
}

JNIEXPORT jint JNICALL QV_NATIVE(EmptyWorkingSet)(JNIEnv*, jclass, jint process) {
  return ::EmptyWorkingSet(HandleFromJava(process));
}

}  // extern "C"
