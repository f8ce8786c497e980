// Win32Impl per-user data protection: encryptUserWin32 / decryptUserWin32
// over CryptProtectData / CryptUnprotectData. Failures reach Java as
// IllegalArgumentException or Win32Exception (with the system's error code);
// each method ends in the Java-exception guard.
#include <cstring>

#include "Exports.h"
#include "Guards.h"
#include "JNIException.h"
#include "Win32Api.h"

using namespace quorvane::jni;

namespace {

const wchar_t kDescription[] = L"ark_secret";

// The elements of a byte[] for one call; `isCopy` says whether the VM handed
// out a copy. Released with copy-back (mode 0) only when `writeBack`: an
// input that is only read goes with JNI_ABORT, so a copy never undoes what
// another thread stored in the array meanwhile.
class ByteElements {
 public:
  ByteElements(JNIEnv* env, jbyteArray array, bool writeBack) : env_(env), array_(array), writeBack_(writeBack) {
    elements_ = env->GetByteArrayElements(array, &isCopy_);
    if (elements_ == nullptr) throw OutOfMemoryException();
  }
  ~ByteElements() { env_->ReleaseByteArrayElements(array_, elements_, writeBack_ ? 0 : JNI_ABORT); }
  ByteElements(const ByteElements&) = delete;
  ByteElements& operator=(const ByteElements&) = delete;

  BYTE* Bytes() const { return reinterpret_cast<BYTE*>(elements_); }
  bool IsCopy() const { return isCopy_ == JNI_TRUE; }

 private:
  JNIEnv* env_;
  jbyteArray array_;
  const bool writeBack_;
  jbyte* elements_ = nullptr;
  jboolean isCopy_ = JNI_FALSE;
};

// A new Java array holding the blob's bytes; null with the VM's error pending
// when it cannot be made.
jbyteArray ToJava(JNIEnv* env, const DATA_BLOB& blob) {
  jbyteArray result = env->NewByteArray(static_cast<jsize>(blob.cbData));
  if (result != nullptr)
    env->SetByteArrayRegion(result, 0, static_cast<jsize>(blob.cbData), reinterpret_cast<const jbyte*>(blob.pbData));
  return result;
}

jsize LengthOf(JNIEnv* env, jbyteArray array) { return array == nullptr ? 0 : env->GetArrayLength(array); }

// Hands the array's bytes to `call` as its input blob and answers a Java
// array of the output blob. With `wipeCopy`, a copy the VM handed out is
// zeroed and released with copy-back, so the caller's array holds zeros
// afterwards; without, the elements are only read. A failed call raises
// Win32Exception with `failure` and the system's error code.
template <typename Call>
jbyteArray Transform(JNIEnv* env, jbyteArray array, jsize length, bool wipeCopy, const char* failure, Call call) {
  jbyteArray result = nullptr;
  bool failed = false;
  DWORD error = 0;
  {
    ByteElements elements(env, array, wipeCopy);  // the zeros go back; else only read
    DATA_BLOB in = {static_cast<DWORD>(length), elements.Bytes()};
    DATA_BLOB out = {0, nullptr};
    if (call(in, out)) {
      result = ToJava(env, out);
    } else {
      failed = true;
      error = ::GetLastError();
    }
    ::LocalFree(out.pbData);
    if (wipeCopy && elements.IsCopy()) SecureZeroMemory(elements.Bytes(), static_cast<SIZE_T>(length));
  }
  if (failed) throw JNIException(env, kWin32ExceptionClass, failure, error);
  return result;
}

}  // namespace

extern "C" {

JNIEXPORT jbyteArray JNICALL QV_NATIVE(encryptUserWin32)(JNIEnv* env, jclass, jbyteArray plain) {
  return JavaExceptionGuard(env, jbyteArray(nullptr), [&] {
    const jsize length = LengthOf(env, plain);
    if (length < 1) throw IllegalArgumentException(env, "Error, plain text buffer is null or empty");
    return Transform(env, plain, length, true, "Error encrypting data", [](DATA_BLOB& in, DATA_BLOB& out) {
      return ::CryptProtectData(&in, kDescription, nullptr, nullptr, nullptr, 0, &out);
    });
  });
}

JNIEXPORT jbyteArray JNICALL QV_NATIVE(decryptUserWin32)(JNIEnv* env, jclass, jbyteArray blob) {
  return JavaExceptionGuard(env, jbyteArray(nullptr), [&] {
    const jsize length = LengthOf(env, blob);
    if (length < 1) throw IllegalArgumentException(env, "Error, cipher text buffer is null or empty");
    return Transform(env, blob, length, false, "Error unencrypting data", [](DATA_BLOB& in, DATA_BLOB& out) {
      // The description comes back only on success; it is not compared with anything.
      LPWSTR description = nullptr;
      const BOOL ok = ::CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, 0, &out);
      if (ok) ::LocalFree(description);
      return ok;
    });
  });
}

}  // extern "C"
