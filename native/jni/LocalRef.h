// One local reference, deleted at the end of a scope, so long walks over
// large objects stay within the frame's local-reference capacity.
#pragma once

#include <jni.h>

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

}  // namespace jni
}  // namespace quorvane
