// A java.util.Properties read whole in a dozen JNI calls, whatever its size:
// its keys and its values each as one String array joined into one String.
#pragma once

#include <jni.h>

#include "PropertiesWrapper.h"

namespace quorvane {
namespace jni {

// The entries of `properties` when it is a java.util.Properties itself (no
// subclass, no defaults) whose keys and values are all Strings without a NUL:
// what PropertiesWrapper::ReadEntries would give, in the map's own order.
// False, with no exception pending, for any other object: the caller then
// reads it entry by entry. Throws JNIException only when the VM fails.
bool ReadPlainProperties(JNIEnv* env, jobject properties, JavaEntries& out);

}  // namespace jni
}  // namespace quorvane
