// One local reference, deleted at the end of a scope, so long walks over
// large objects stay within the frame's local-reference capacity.
#pragma once

#include <jni.h>

#include <cstddef>

#include "JNIException.h"

namespace quorvane {
namespace jni {

class LocalRef {
 public:
  LocalRef(JNIEnv* env, jobject ref) : env(env), ref(ref) {}
  ~LocalRef() {
    if (ref != nullptr) env->DeleteLocalRef(ref);
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;
  jobject get() const { return ref; }
  jobject release() {
    jobject held = ref;
    ref = nullptr;
    return held;
  }

 private:
  JNIEnv* env;
  jobject ref;
};

// A local frame for one native call's walk, popped at the end of its scope;
// a walk that keeps a reference per key grows its capacity with Hold, so
// -Xcheck:jni sees every reference planned for.
class LocalFrame {
 public:
  explicit LocalFrame(JNIEnv* env) : env(env) {
    if (env->PushLocalFrame(kStep) != 0) throw JNIException();
  }
  ~LocalFrame() { env->PopLocalFrame(nullptr); }
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;
  // Room for `held` references plus the few a step makes and deletes.
  void Hold(size_t held) {
    if (held + kSpare <= capacity) return;
    capacity = 2 * (held + kSpare);
    if (env->EnsureLocalCapacity(static_cast<jint>(capacity)) != 0) throw JNIException();
  }

 private:
  static const jint kStep = 64;
  static const size_t kSpare = 16;
  JNIEnv* env;
  size_t capacity = kStep;
};

}  // namespace jni
}  // namespace quorvane
