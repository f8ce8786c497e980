// Win32Impl file services: file creation and attributes, folder change
// notification, the structured-storage file test, drive types and DOS device
// names. Pass-throughs: the platform's result comes back unchanged and its
// last-error code is not read. Each method ends in the Java-exception guard.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>

#include "Exports.h"
#include "Guards.h"
#include "JNIException.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "NativeHandles.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

// Device-name buffer of QueryDosDevice, in UTF-16 units.
constexpr DWORD kDeviceNameUnits = 1040;

jboolean ToJava(BOOL value) { return value ? JNI_TRUE : JNI_FALSE; }

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL QV_NATIVE(ReadDirectoryChangesW)(JNIEnv* env, jclass, jint directory, jbyteArray buffer,
                                                            jint bufferLength, jboolean watchSubtree, jint filter,
                                                            jintArray bytesReturned, jint overlapped,
                                                            jint completionRoutine) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&] {
    JavaArrayElements<jbyte> bytes(env, buffer);
    JavaArrayElements<jint> count(env, bytesReturned, 1);
    count.elements[0] = 0;
    // Asynchronous completion would write into the elements after they are
    // released: refused, on every platform, before the platform sees it.
    if (overlapped != 0 || completionRoutine != 0) return jboolean(JNI_FALSE);
    const DWORD length = std::min(static_cast<DWORD>(bufferLength), static_cast<DWORD>(bytes.Length()));
    DWORD written = 0;
    const BOOL result = ::ReadDirectoryChangesW(HandleFromJava(directory), bytes.elements, length,
                                                BoolFromJava(watchSubtree), static_cast<DWORD>(filter), &written,
                                                nullptr, nullptr);
    count.elements[0] = static_cast<jint>(written);
    return ToJava(result);
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(CreateFile)(JNIEnv* env, jclass, jstring fileName, jint desiredAccess,
                                             jint shareMode, jint securityAttributes, jint creationDisposition,
                                             jint flagsAndAttributes, jint templateFile) {
  // The guard answers 0, as for the other int results; -1 is the platform's failed open only.
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars name(env, fileName);
    LPSECURITY_ATTRIBUTES attributes;
    if (!SecurityAttributesFromJava(securityAttributes, &attributes)) return HandleToJava(INVALID_HANDLE_VALUE);
    return HandleToJava(
        ::CreateFileW(name.chars, static_cast<DWORD>(desiredAccess), static_cast<DWORD>(shareMode), attributes,
                      static_cast<DWORD>(creationDisposition), static_cast<DWORD>(flagsAndAttributes),
                      HandleFromJava(templateFile)));
  });
}

JNIEXPORT jboolean JNICALL QV_NATIVE(SetFileAttributes)(JNIEnv* env, jclass, jstring path, jint attributes) {
  return JavaExceptionGuard(env, jboolean(JNI_FALSE), [&] {
    JavaChars text(env, path);
    return ToJava(::SetFileAttributesW(text.chars, static_cast<DWORD>(attributes)));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(StgIsStorageFile)(JNIEnv* env, jclass, jstring fileName) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars name(env, fileName);
    return static_cast<jint>(::StgIsStorageFile(name.chars));
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(GetDriveType)(JNIEnv* env, jclass, jstring rootPath) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaChars root(env, rootPath);
    return static_cast<jint>(::GetDriveTypeW(root.chars));
  });
}

JNIEXPORT jstring JNICALL QV_NATIVE(QueryDosDevice)(JNIEnv* env, jclass, jstring deviceName) {
  return JavaExceptionGuard(env, jstring(nullptr), [&] {
    WCHAR devices[kDeviceNameUnits] = {};
    DWORD stored;
    {
      JavaChars name(env, deviceName);
      stored = ::QueryDosDeviceW(name.chars, devices, kDeviceNameUnits);
    }
    if (stored == 0) return jstring(nullptr);
    // The first name of the list only.
    return NewJavaString(env, std::wstring(devices, wcsnlen(devices, std::min(stored, kDeviceNameUnits))));
  });
}

}  // extern "C"
