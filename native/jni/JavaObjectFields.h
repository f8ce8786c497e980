// Reads and writes the instance and static fields of one Java object by name
// and JNI signature, for one native call on the calling thread. A field the
// object's class lacks (or has with another type) throws the plain
// JNIException with the VM's NoSuchFieldError pending.
#pragma once

#include <jni.h>

#include <cstddef>

namespace quorvane {
namespace jni {

class JavaObjectFields {
 public:
  JavaObjectFields(JNIEnv* env, jobject object);
  ~JavaObjectFields();
  JavaObjectFields(const JavaObjectFields&) = delete;
  JavaObjectFields& operator=(const JavaObjectFields&) = delete;

  jobject GetObject(const char* name, const char* signature) const;
  jboolean GetBoolean(const char* name) const;
  jbyte GetByte(const char* name) const;
  jshort GetShort(const char* name) const;
  jint GetInt(const char* name) const;
  jlong GetLong(const char* name) const;
  jfloat GetFloat(const char* name) const;
  jdouble GetDouble(const char* name) const;

  void SetBoolean(const char* name, jboolean value) const;
  void SetByte(const char* name, jbyte value) const;
  void SetShort(const char* name, jshort value) const;
  void SetInt(const char* name, jint value) const;
  void SetLong(const char* name, jlong value) const;
  void SetFloat(const char* name, jfloat value) const;
  void SetDouble(const char* name, jdouble value) const;

  jobject GetStaticObject(const char* name, const char* signature) const;
  jboolean GetStaticBoolean(const char* name) const;
  jbyte GetStaticByte(const char* name) const;
  jshort GetStaticShort(const char* name) const;
  jint GetStaticInt(const char* name) const;
  jlong GetStaticLong(const char* name) const;
  jfloat GetStaticFloat(const char* name) const;
  jdouble GetStaticDouble(const char* name) const;

  void SetStaticBoolean(const char* name, jboolean value) const;
  void SetStaticByte(const char* name, jbyte value) const;
  void SetStaticShort(const char* name, jshort value) const;
  void SetStaticInt(const char* name, jint value) const;
  void SetStaticLong(const char* name, jlong value) const;
  void SetStaticFloat(const char* name, jfloat value) const;
  void SetStaticDouble(const char* name, jdouble value) const;

  // Copies exactly byteCount bytes to the start of the field's existing array
  // ("[B" / "[C"), released with mode 0 so the bytes reach Java.
  void SetByteArray(const char* name, const void* source, size_t byteCount) const;
  void SetCharArray(const char* name, const void* source, size_t byteCount) const;

  JNIEnv* const env;
  const jobject object;
  const jclass objectClass;

 private:
  jfieldID Field(const char* name, const char* signature) const;
  jfieldID StaticField(const char* name, const char* signature) const;
};

}  // namespace jni
}  // namespace quorvane
