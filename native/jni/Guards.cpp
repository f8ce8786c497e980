#include "Guards.h"

#include <string>

namespace quorvane {
namespace jni {

void RaiseForForeignException(JNIEnv* env, const std::exception* error, bool outOfMemory) {
  if (env->ExceptionCheck()) return;
  const char* cls = outOfMemory ? "java/lang/OutOfMemoryError" : "java/lang/RuntimeException";
  // ThrowNew wants modified UTF-8; a report may carry any bytes.
  std::string message = error != nullptr ? error->what() : "unknown exception";
  for (char& c : message)
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\0') c = '?';
  throwNew(env, cls, message.c_str());
}

}  // namespace jni
}  // namespace quorvane
