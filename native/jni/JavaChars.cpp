#include "JavaChars.h"

#include <cstdint>
#include <stdexcept>

#include "JNIException.h"
#include "Utf16.h"

namespace quorvane {
namespace jni {

static_assert(sizeof(jchar) == sizeof(char16_t), "jchar is a UTF-16 unit");

JavaChars::JavaChars(JNIEnv* env, jstring string) : env(env), string(string) {
  if (string == nullptr) return;
  const jsize length = env->GetStringLength(string);
  borrowed_ = env->GetStringChars(string, nullptr);
  if (borrowed_ == nullptr) throw OutOfMemoryException();
  Adopt(borrowed_, length);
}

JavaChars::JavaChars(JNIEnv* env, jcharArray charArray) : env(env), charArray(charArray) {
  if (charArray == nullptr) return;
  const jsize length = env->GetArrayLength(charArray);
  borrowed_ = env->GetCharArrayElements(charArray, nullptr);
  if (borrowed_ == nullptr) throw OutOfMemoryException();
  Adopt(borrowed_, length);
}

void JavaChars::Adopt(const jchar* borrowed, jsize length) {
  try {
    text_ = WideFromUtf16(reinterpret_cast<const char16_t*>(borrowed), static_cast<size_t>(length));
  } catch (...) {
    Release();
    throw;
  }
  chars = text_.c_str();
}

JavaChars::~JavaChars() { Release(); }

void JavaChars::Release() {
  if (borrowed_ == nullptr) return;
  if (charArray != nullptr)
    env->ReleaseCharArrayElements(charArray, const_cast<jchar*>(borrowed_), JNI_ABORT);  // only read
  else
    env->ReleaseStringChars(string, borrowed_);
  borrowed_ = nullptr;
}

jstring NewJavaString(JNIEnv* env, const wchar_t* text, size_t count) {
  // Names and most values are short: converted on the stack, not the heap.
  char16_t stack[256];
  std::u16string heap;
  char16_t* units = stack;
  if (2 * count > sizeof stack / sizeof stack[0]) {
    heap.resize(2 * count);
    units = &heap[0];
  }
  const size_t length = Utf16Into(text, count, units);
  if (length > static_cast<size_t>(INT32_MAX)) throw std::length_error("text too long for a Java String");
  jstring result = env->NewString(reinterpret_cast<const jchar*>(units), static_cast<jsize>(length));
  if (result == nullptr) throw JNIException();
  return result;
}

}  // namespace jni
}  // namespace quorvane
