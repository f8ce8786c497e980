// Borrows the characters of one Java String or char[] for the holder's
// lifetime. `chars` is null-terminated platform wide text (a copy made with
// the string's length, so termination never depends on the VM), or null when
// the Java reference was null. Releases what it borrowed on destruction.
// Belongs to the calling thread; not copyable.
#pragma once

#include <jni.h>

#include <string>

#include "Win32Api.h"

namespace quorvane {
namespace jni {

class JavaChars {
 public:
  JavaChars(JNIEnv* env, jstring string);
  JavaChars(JNIEnv* env, jcharArray charArray);
  ~JavaChars();
  JavaChars(const JavaChars&) = delete;
  JavaChars& operator=(const JavaChars&) = delete;

  JNIEnv* const env;
  const WCHAR* chars = nullptr;
  const jcharArray charArray = nullptr;
  const jstring string = nullptr;

  bool IsNull() const { return chars == nullptr; }
  // The text without its terminator; empty for a null reference.
  const std::wstring& Text() const { return text_; }

 private:
  void Adopt(const jchar* borrowed, jsize length);
  void Release();

  const jchar* borrowed_ = nullptr;
  std::wstring text_;
};

// A Java String made from wide text; throws JNIException when the VM refuses.
jstring NewJavaString(JNIEnv* env, const wchar_t* text, size_t count);
inline jstring NewJavaString(JNIEnv* env, const std::wstring& text) {
  return NewJavaString(env, text.data(), text.size());
}

}  // namespace jni
}  // namespace quorvane
