// A JNIEnv without a JVM, for calling the DLL's record-marshalling methods
// under Wine: objects are bags of named fields, arrays and strings live in
// the test, and a failed field lookup leaves a pending "NoSuchFieldError".
// Only the JNI functions the shell and HTTP methods use are filled in; any other
// entry is null and would fault, which a test would show at once.
#pragma once

#include <jni.h>

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace qvtest {

class FakeJni {
 public:
  struct Value;
  struct Field {
    std::string signature;
    jint i = 0;  // also the short or boolean of "S" / "Z"
    Value* object = nullptr;
  };
  // An object (fields), a char[] / byte[] (units / bytes) or a String (units).
  struct Value {
    std::map<std::string, Field> fields;
    std::vector<jchar> units;
    std::vector<jbyte> bytes;
  };

  FakeJni() {
    std::memset(&table_, 0, sizeof table_);
    table_.reserved0 = this;
#define QV_FAKE(f) table_.f = f;
    QV_FAKE(GetObjectClass) QV_FAKE(DeleteLocalRef) QV_FAKE(ExceptionCheck) QV_FAKE(FindClass) QV_FAKE(ThrowNew)
    QV_FAKE(GetFieldID) QV_FAKE(GetIntField) QV_FAKE(SetIntField) QV_FAKE(GetShortField) QV_FAKE(GetBooleanField)
    QV_FAKE(GetObjectField) QV_FAKE(GetArrayLength) QV_FAKE(GetByteArrayElements) QV_FAKE(ReleaseByteArrayElements)
    QV_FAKE(GetCharArrayElements) QV_FAKE(ReleaseCharArrayElements) QV_FAKE(GetStringLength) QV_FAKE(GetStringChars)
    QV_FAKE(ReleaseStringChars) QV_FAKE(GetStringRegion) QV_FAKE(NewString) QV_FAKE(NewByteArray)
    QV_FAKE(SetByteArrayRegion)
#undef QV_FAKE
    env_.functions = &table_;
  }
  FakeJni(const FakeJni&) = delete;
  FakeJni& operator=(const FakeJni&) = delete;

  JNIEnv* env() { return &env_; }

  Value* NewObject() { return &values_.emplace_back(); }
  // A String or char[] of these units, or a byte[] of n zeros; never a null
  // data pointer, as a JVM hands out none.
  Value* NewText(const std::u16string& text) {
    Value* v = NewObject();
    v->units.reserve(text.size() + 1);
    v->units.assign(text.begin(), text.end());
    return v;
  }
  Value* NewChars(size_t n) { return NewText(std::u16string(n, u'\0')); }
  Value* NewBytes(size_t n) {
    Value* v = NewObject();
    v->bytes.assign(n, 0);
    return v;
  }
  static Field& Add(Value* object, const char* name, const char* signature) {
    Field& f = object->fields[name];
    f.signature = signature;
    return f;
  }
  static jobject Ref(Value* v) { return reinterpret_cast<jobject>(v); }
  static std::u16string Text(const Value* v) {
    std::u16string t(v->units.begin(), v->units.end());
    return t.substr(0, t.find(u'\0'));
  }

  std::string pending;  // the message of the pending exception, empty when none

 private:
  static FakeJni& Of(JNIEnv* e) { return *static_cast<FakeJni*>(e->functions->reserved0); }
  static Field& F(jfieldID f) { return *reinterpret_cast<Field*>(f); }
  static Value& V(void* o) { return *reinterpret_cast<Value*>(o); }

  static jclass JNICALL GetObjectClass(JNIEnv*, jobject o) { return reinterpret_cast<jclass>(o); }
  static void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}
  static jboolean JNICALL ExceptionCheck(JNIEnv* e) { return !Of(e).pending.empty(); }
  static jclass JNICALL FindClass(JNIEnv* e, const char*) { return reinterpret_cast<jclass>(&Of(e).classValue_); }
  static jint JNICALL ThrowNew(JNIEnv* e, jclass, const char* message) {
    Of(e).pending = message;
    return 0;
  }
  static jfieldID JNICALL GetFieldID(JNIEnv* e, jclass c, const char* name, const char* signature) {
    auto& fields = V(c).fields;
    const auto it = fields.find(name);
    if (it == fields.end() || it->second.signature != signature) {
      Of(e).pending = std::string("NoSuchFieldError: ") + name;
      return nullptr;
    }
    return reinterpret_cast<jfieldID>(&it->second);
  }
  static jint JNICALL GetIntField(JNIEnv*, jobject, jfieldID f) { return F(f).i; }
  static void JNICALL SetIntField(JNIEnv*, jobject, jfieldID f, jint v) { F(f).i = v; }
  static jshort JNICALL GetShortField(JNIEnv*, jobject, jfieldID f) { return static_cast<jshort>(F(f).i); }
  static jboolean JNICALL GetBooleanField(JNIEnv*, jobject, jfieldID f) { return static_cast<jboolean>(F(f).i); }
  static jobject JNICALL GetObjectField(JNIEnv*, jobject, jfieldID f) { return reinterpret_cast<jobject>(F(f).object); }
  static jsize JNICALL GetArrayLength(JNIEnv*, jarray a) {
    return static_cast<jsize>(V(a).bytes.empty() ? V(a).units.size() : V(a).bytes.size());
  }
  static jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray a, jboolean*) { return V(a).bytes.data(); }
  static void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint) {}
  static jchar* JNICALL GetCharArrayElements(JNIEnv*, jcharArray a, jboolean*) { return V(a).units.data(); }
  static void JNICALL ReleaseCharArrayElements(JNIEnv*, jcharArray, jchar*, jint) {}
  static jsize JNICALL GetStringLength(JNIEnv*, jstring s) { return static_cast<jsize>(V(s).units.size()); }
  static const jchar* JNICALL GetStringChars(JNIEnv*, jstring s, jboolean*) { return V(s).units.data(); }
  static void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}
  static void JNICALL GetStringRegion(JNIEnv*, jstring s, jsize start, jsize length, jchar* out) {
    std::memcpy(out, V(s).units.data() + start, length * sizeof(jchar));
  }
  static jbyteArray JNICALL NewByteArray(JNIEnv* e, jsize n) {
    return reinterpret_cast<jbyteArray>(Of(e).NewBytes(static_cast<size_t>(n)));
  }
  static void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize n, const jbyte* from) {
    std::memcpy(V(a).bytes.data() + start, from, static_cast<size_t>(n));
  }
  static jstring JNICALL NewString(JNIEnv* e, const jchar* units, jsize length) {
    return reinterpret_cast<jstring>(Of(e).NewText(std::u16string(reinterpret_cast<const char16_t*>(units), length)));
  }

  JNINativeInterface_ table_;
  JNIEnv env_;
  Value classValue_;
  std::deque<Value> values_;  // stable addresses
};

}  // namespace qvtest
