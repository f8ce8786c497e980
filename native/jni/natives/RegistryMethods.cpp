// Win32Impl registry writes: RegCreateKey and RegSetValueEx. Pass-throughs:
// the registry's error code comes back unchanged. Keys cross as Java int and
// are converted by NativeHandles. Both methods end in the Java-exception guard.
#include "Exports.h"
#include "Guards.h"
#include "JavaArrayElements.h"
#include "JavaChars.h"
#include "NativeHandles.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

// One registry view for both DLLs: the 32-bit one, where a 32-bit client
// kept its keys, so moving to a 64-bit JVM loses none. The i686 DLL sees it
// by default; the x64 DLL asks for it.
LONG CreateKey(HKEY key, LPCWSTR name, HKEY* opened) {
#ifdef _WIN64
  return ::RegCreateKeyExW(key, name != nullptr ? name : L"", 0, nullptr, REG_OPTION_NON_VOLATILE,
                           MAXIMUM_ALLOWED | KEY_WOW64_32KEY, nullptr, opened, nullptr);
#else
  return ::RegCreateKeyW(key, name, opened);
#endif
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL QV_NATIVE(RegCreateKey)(JNIEnv* env, jclass, jint key, jstring subKey, jintArray result) {
  return JavaExceptionGuard(env, jint(0), [&] {
    JavaArrayElements<jint> handle(env, result);
    JavaChars name(env, subKey);
    // Element 0 receives the key; an empty array has no room for it, and a
    // key opened there could never be closed.
    if (handle.Length() < 1) return jint(ERROR_INVALID_PARAMETER);
    // HKEY is pointer-sized on Linux: the call writes a local that starts
    // as element 0 and goes back into it, so element 0 changes exactly as
    // the platform changes its out-parameter.
    HKEY opened = KeyFromJava(handle.elements[0]);
    const LONG error = CreateKey(KeyFromJava(key), name.chars, &opened);
    handle.elements[0] = KeyToJava(opened);
    return jint(error);
  });
}

JNIEXPORT jint JNICALL QV_NATIVE(RegSetValueEx)(JNIEnv* env, jclass, jint key, jstring valueName, jint reserved,
                                                jint type, jbyteArray data, jint length) {
  return JavaExceptionGuard(env, jint(0), [&] {
    // Only read: a copy going back would undo another thread's change made meanwhile.
    JavaArrayElements<jbyte> bytes(env, data, ArrayUse::kReadOnly);
    JavaChars name(env, valueName);
    // Never let the registry read past the Java array: Windows answers a
    // buffer it cannot read with ERROR_NOACCESS.
    if (length < 0 || length > bytes.Length()) return jint(ERROR_NOACCESS);
    return jint(::RegSetValueExW(KeyFromJava(key), name.chars, static_cast<DWORD>(reserved), static_cast<DWORD>(type),
                                 reinterpret_cast<const BYTE*>(bytes.elements), static_cast<DWORD>(length)));
  });
}

}  // extern "C"
