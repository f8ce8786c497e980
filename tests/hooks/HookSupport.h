// What the test-only natives share: Java text in and String[] out. Never shipped.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "JNIException.h"
#include "JavaChars.h"

namespace quorvane::jni::hooks {

inline std::wstring Text(JNIEnv* env, jstring text) { return JavaChars(env, text).Text(); }

// ASCII text as narrow characters.
inline std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// A String[] of the texts; an element whose `present` is false stays null.
inline jobjectArray StringArray(JNIEnv* env, const std::vector<std::wstring>& texts,
                                const std::vector<bool>& present = {}) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) throw JNIException();
  jobjectArray out = env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (out == nullptr) throw JNIException();
  for (size_t i = 0; i < texts.size(); ++i) {
    if (!present.empty() && !present[i]) continue;
    jstring s = NewJavaString(env, texts[i]);
    env->SetObjectArrayElement(out, static_cast<jsize>(i), s);
    env->DeleteLocalRef(s);
  }
  return out;
}

}  // namespace quorvane::jni::hooks
