// Win32Impl window services: window effects, the last input time and
// registered window messages. Pass-throughs like the kernel methods; only
// RegisterWindowMessage borrows text and ends in the Java-exception guard.
#include "Exports.h"
#include "Guards.h"
#include "JavaChars.h"
#include "NativeHandles.h"
#include "Win32Api.h"

using namespace quorvane::jni;

extern "C" {

JNIEXPORT jint JNICALL QV_NATIVE(AnimateWindow)(JNIEnv*, jclass, jint window, jint milliseconds, jint flags) {
  return ::AnimateWindow(WindowFromJava(window), static_cast<DWORD>(milliseconds), static_cast<DWORD>(flags));
}

JNIEXPORT jint JNICALL QV_NATIVE(SetLayeredWindowAttributes)(JNIEnv*, jclass, jint window, jint colorKey,
                                                             jint alpha, jint flags) {
  return ::SetLayeredWindowAttributes(WindowFromJava(window), static_cast<COLORREF>(colorKey),
                                      static_cast<BYTE>(alpha & 0xFF), static_cast<DWORD>(flags));
}

JNIEXPORT jint JNICALL QV_NATIVE(FlashWindow)(JNIEnv*, jclass, jint window, jboolean invert) {
  return ::FlashWindow(WindowFromJava(window), BoolFromJava(invert));
}

JNIEXPORT jint JNICALL QV_NATIVE(getLastInputTime)(JNIEnv*, jclass) {
  LASTINPUTINFO info;
  info.cbSize = sizeof(LASTINPUTINFO);
  info.dwTime = 0;
  return ::GetLastInputInfo(&info) ? static_cast<jint>(info.dwTime) : 0;
}

JNIEXPORT jint JNICALL QV_NATIVE(RegisterWindowMessage)(JNIEnv* env, jclass, jstring name) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars text(env, name);
    return static_cast<jint>(::RegisterWindowMessageW(text.chars));
  });
}

}  // extern "C"
