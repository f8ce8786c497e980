// Borrows the elements of one Java byte[], int[] or char[] for the holder's
// lifetime. On destruction the elements are released with mode 0, which
// copies native changes back into the Java array whether or not the VM
// handed out a copy; elements borrowed only to be read are released with
// JNI_ABORT, so that a copy never writes old values over what another
// thread stored meanwhile. Not copyable.
#pragma once

#include <jni.h>

#include "JNIException.h"

namespace quorvane {
namespace jni {

template <typename T>
struct ArrayAccess;

template <>
struct ArrayAccess<jbyte> {
  using Array = jbyteArray;
  static jbyte* Get(JNIEnv* env, Array a) { return env->GetByteArrayElements(a, nullptr); }
  static void Release(JNIEnv* env, Array a, jbyte* e, jint mode) { env->ReleaseByteArrayElements(a, e, mode); }
};

template <>
struct ArrayAccess<jint> {
  using Array = jintArray;
  static jint* Get(JNIEnv* env, Array a) { return env->GetIntArrayElements(a, nullptr); }
  static void Release(JNIEnv* env, Array a, jint* e, jint mode) { env->ReleaseIntArrayElements(a, e, mode); }
};

template <>
struct ArrayAccess<jchar> {
  using Array = jcharArray;
  static jchar* Get(JNIEnv* env, Array a) { return env->GetCharArrayElements(a, nullptr); }
  static void Release(JNIEnv* env, Array a, jchar* e, jint mode) { env->ReleaseCharArrayElements(a, e, mode); }
};

enum class ArrayUse { kReadWrite, kReadOnly };

template <typename T>
class JavaArrayElements {
 public:
  using Array = typename ArrayAccess<T>::Array;

  // A null array raises NullPointerException rather than reaching the VM,
  // which would end the process. `required` is how many elements the caller
  // writes: a shorter array raises IllegalArgumentException before anything
  // is borrowed, so nothing past its end is ever written.
  JavaArrayElements(JNIEnv* env, Array array, jsize required = 0, ArrayUse use = ArrayUse::kReadWrite)
      : env(env), array(array), elements(Borrow(env, array, required)), use_(use) {
    if (elements == nullptr) throw OutOfMemoryException();
  }
  JavaArrayElements(JNIEnv* env, Array array, ArrayUse use) : JavaArrayElements(env, array, 0, use) {}
  ~JavaArrayElements() {
    if (elements != nullptr) ArrayAccess<T>::Release(env, array, elements, use_ == ArrayUse::kReadOnly ? JNI_ABORT : 0);
  }
  JavaArrayElements(const JavaArrayElements&) = delete;
  JavaArrayElements& operator=(const JavaArrayElements&) = delete;

  jsize Length() const { return env->GetArrayLength(array); }

  JNIEnv* const env;
  const Array array;
  T* const elements;

 private:
  static T* Borrow(JNIEnv* env, Array array, jsize required) {
    if (array == nullptr) {
      throwNew(env, "java/lang/NullPointerException", "array");
      throw JNIException();
    }
    if (env->GetArrayLength(array) < required) throw IllegalArgumentException(env, "array too short");
    return ArrayAccess<T>::Get(env, array);
  }

  const ArrayUse use_;
};

}  // namespace jni
}  // namespace quorvane
