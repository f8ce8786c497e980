#include "JavaObjectFields.h"

#include <cstring>

#include "JNIException.h"
#include "JavaArrayElements.h"

namespace quorvane {
namespace jni {

namespace {
[[noreturn]] void RaiseNullPointer(JNIEnv* env, const char* what) {
  throwNew(env, "java/lang/NullPointerException", what);
  throw JNIException();
}
}  // namespace

JavaObjectFields::JavaObjectFields(JNIEnv* env, jobject object)
    : env(env), object(object), objectClass(object ? env->GetObjectClass(object) : nullptr) {
  if (object == nullptr) RaiseNullPointer(env, "object");
  if (objectClass == nullptr) throw JNIException();
}

JavaObjectFields::~JavaObjectFields() {
  if (objectClass != nullptr) env->DeleteLocalRef(objectClass);
}

jfieldID JavaObjectFields::Field(const char* name, const char* signature) const {
  jfieldID id = env->GetFieldID(objectClass, name, signature);
  if (id == nullptr) throw JNIException();
  return id;
}

jfieldID JavaObjectFields::StaticField(const char* name, const char* signature) const {
  jfieldID id = env->GetStaticFieldID(objectClass, name, signature);
  if (id == nullptr) throw JNIException();
  return id;
}

jobject JavaObjectFields::GetObject(const char* name, const char* signature) const {
  return env->GetObjectField(object, Field(name, signature));
}
jobject JavaObjectFields::GetStaticObject(const char* name, const char* signature) const {
  return env->GetStaticObjectField(objectClass, StaticField(name, signature));
}

#define QV_FIELD_ACCESSORS(Type, jtype, sig)                                         \
  jtype JavaObjectFields::Get##Type(const char* name) const {                        \
    return env->Get##Type##Field(object, Field(name, sig));                          \
  }                                                                                  \
  void JavaObjectFields::Set##Type(const char* name, jtype value) const {            \
    env->Set##Type##Field(object, Field(name, sig), value);                          \
  }                                                                                  \
  jtype JavaObjectFields::GetStatic##Type(const char* name) const {                  \
    return env->GetStatic##Type##Field(objectClass, StaticField(name, sig));         \
  }                                                                                  \
  void JavaObjectFields::SetStatic##Type(const char* name, jtype value) const {      \
    env->SetStatic##Type##Field(objectClass, StaticField(name, sig), value);         \
  }

QV_FIELD_ACCESSORS(Boolean, jboolean, "Z")
QV_FIELD_ACCESSORS(Byte, jbyte, "B")
QV_FIELD_ACCESSORS(Short, jshort, "S")
QV_FIELD_ACCESSORS(Int, jint, "I")
QV_FIELD_ACCESSORS(Long, jlong, "J")
QV_FIELD_ACCESSORS(Float, jfloat, "F")
QV_FIELD_ACCESSORS(Double, jdouble, "D")
#undef QV_FIELD_ACCESSORS

namespace {
template <typename T>
void FillArray(JNIEnv* env, jobject array, const void* source, size_t byteCount) {
  JavaArrayElements<T> elements(env, static_cast<typename ArrayAccess<T>::Array>(array));
  // The array is filled in place; never past its end.
  const size_t capacity = static_cast<size_t>(elements.Length()) * sizeof(T);
  std::memcpy(elements.elements, source, byteCount < capacity ? byteCount : capacity);
}
}  // namespace

void JavaObjectFields::SetByteArray(const char* name, const void* source, size_t byteCount) const {
  jobject array = GetObject(name, "[B");
  if (array == nullptr) RaiseNullPointer(env, name);
  FillArray<jbyte>(env, array, source, byteCount);
  env->DeleteLocalRef(array);
}

void JavaObjectFields::SetCharArray(const char* name, const void* source, size_t byteCount) const {
  jobject array = GetObject(name, "[C");
  if (array == nullptr) RaiseNullPointer(env, name);
  FillArray<jchar>(env, array, source, byteCount);
  env->DeleteLocalRef(array);
}

}  // namespace jni
}  // namespace quorvane
