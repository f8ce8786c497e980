// Win32Impl.TestJavaClassFields: the field accessors' self-test on a probe
// object supplied by the Java client.
#include <cstdint>
#include <string>
#include <type_traits>

#include "Exports.h"
#include "Guards.h"
#include "JavaArrayElements.h"
#include "JavaObjectFields.h"

using namespace quorvane::jni;

namespace {

// One view over instance or static fields so both passes run the same steps.
struct InstanceFields {
  const JavaObjectFields& f;
  jobject Object(const char* n, const char* s) const { return f.GetObject(n, s); }
  jboolean GetZ(const char* n) const { return f.GetBoolean(n); }
  void SetZ(const char* n, jboolean v) const { f.SetBoolean(n, v); }
  jbyte GetB(const char* n) const { return f.GetByte(n); }
  void SetB(const char* n, jbyte v) const { f.SetByte(n, v); }
  jshort GetS(const char* n) const { return f.GetShort(n); }
  void SetS(const char* n, jshort v) const { f.SetShort(n, v); }
  jint GetI(const char* n) const { return f.GetInt(n); }
  void SetI(const char* n, jint v) const { f.SetInt(n, v); }
  jlong GetJ(const char* n) const { return f.GetLong(n); }
  void SetJ(const char* n, jlong v) const { f.SetLong(n, v); }
  jfloat GetF(const char* n) const { return f.GetFloat(n); }
  void SetF(const char* n, jfloat v) const { f.SetFloat(n, v); }
  jdouble GetD(const char* n) const { return f.GetDouble(n); }
  void SetD(const char* n, jdouble v) const { f.SetDouble(n, v); }
};

struct StaticFields {
  const JavaObjectFields& f;
  jobject Object(const char* n, const char* s) const { return f.GetStaticObject(n, s); }
  jboolean GetZ(const char* n) const { return f.GetStaticBoolean(n); }
  void SetZ(const char* n, jboolean v) const { f.SetStaticBoolean(n, v); }
  jbyte GetB(const char* n) const { return f.GetStaticByte(n); }
  void SetB(const char* n, jbyte v) const { f.SetStaticByte(n, v); }
  jshort GetS(const char* n) const { return f.GetStaticShort(n); }
  void SetS(const char* n, jshort v) const { f.SetStaticShort(n, v); }
  jint GetI(const char* n) const { return f.GetStaticInt(n); }
  void SetI(const char* n, jint v) const { f.SetStaticInt(n, v); }
  jlong GetJ(const char* n) const { return f.GetStaticLong(n); }
  void SetJ(const char* n, jlong v) const { f.SetStaticLong(n, v); }
  jfloat GetF(const char* n) const { return f.GetStaticFloat(n); }
  void SetF(const char* n, jfloat v) const { f.SetStaticFloat(n, v); }
  jdouble GetD(const char* n) const { return f.GetStaticDouble(n); }
  void SetD(const char* n, jdouble v) const { f.SetStaticDouble(n, v); }
};

// Java's wrapping addition, kept well defined in C++ by unsigned arithmetic.
template <typename T>
T WrappingAdd(T value, jint a) {
  using U = typename std::make_unsigned<T>::type;
  return static_cast<T>(static_cast<U>(static_cast<U>(value) + static_cast<U>(static_cast<T>(a))));
}

void AddToFirstInt(JNIEnv* env, jobject array, jint a) {
  JavaArrayElements<jint> e(env, static_cast<jintArray>(array));
  if (e.Length() > 0) e.elements[0] = WrappingAdd<jint>(e.elements[0], a);
}

void AddToFirstByte(JNIEnv* env, jobject array, jint a) {
  JavaArrayElements<jbyte> e(env, static_cast<jbyteArray>(array));
  if (e.Length() > 0) e.elements[0] = WrappingAdd<jbyte>(e.elements[0], a);
}

jobject RequireArray(JNIEnv* env, jobject array, const char* name) {
  if (array == nullptr) {
    throwNew(env, "java/lang/NullPointerException", name);
    throw JNIException();
  }
  return array;
}

// Steps 2-4 (instance) and 6-8 (static) share their shape: the int[] first,
// then the booleans, then every scalar. Instance fields also have "barray".
template <typename Fields>
void ChangeFields(JNIEnv* env, const Fields& f, jint a, const std::string& p) {
  const auto n = [&p](const char* base) { return p + base; };
  AddToFirstInt(env, RequireArray(env, f.Object(n("iarray").c_str(), "[I"), "iarray"), a);
  f.SetZ(n("zf").c_str(), !f.GetZ(n("zf").c_str()));
  f.SetZ(n("zt").c_str(), !f.GetZ(n("zt").c_str()));
  f.SetB(n("b").c_str(), WrappingAdd<jbyte>(f.GetB(n("b").c_str()), a));
  f.SetS(n("s").c_str(), WrappingAdd<jshort>(f.GetS(n("s").c_str()), a));
  f.SetI(n("i").c_str(), WrappingAdd<jint>(f.GetI(n("i").c_str()), a));
  f.SetJ(n("j").c_str(), WrappingAdd<jlong>(f.GetJ(n("j").c_str()), a));
  f.SetF(n("f").c_str(), f.GetF(n("f").c_str()) + static_cast<jfloat>(a));
  f.SetD(n("d").c_str(), f.GetD(n("d").c_str()) + static_cast<jdouble>(a));
}

}  // namespace

extern "C" JNIEXPORT void JNICALL QV_NATIVE(TestJavaClassFields)(JNIEnv* env, jclass, jobject object) {
  JavaExceptionGuardVoid(env, [&] {
    JavaObjectFields fields(env, object);
    const jint a = fields.GetStaticByte("ADDEND");  // sign-extended once, here
    ChangeFields(env, InstanceFields{fields}, a, "");
    AddToFirstByte(env, RequireArray(env, fields.GetObject("barray", "[B"), "barray"), a);
    ChangeFields(env, StaticFields{fields}, a, "s_");
  });
}
