// Calls quorvane.dll's exports as the JVM does (on i686 stdcall, decorated names), with a JNIEnv that needs no JVM.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "OnWine.h"

namespace qvtest {

// Only the JNI functions the methods use are filled in, so any other call faults at once.
class DllJni {
 public:
  struct Value;
  struct Field {
    std::string signature;
    jint i = 0;  // also the short or boolean of "S" / "Z"
    Value* object = nullptr;
  };
  // An object (fields), a char[] or String (units), a byte[] or an int[].
  struct Value {
    std::map<std::string, Field> fields;
    std::vector<jchar> units;
    std::vector<jbyte> bytes;
    std::vector<jint> ints;
  };
  struct Write {  // an OutputStream.write(array, offset, count)
    jbyteArray array;
    jint offset;
    std::string bytes;
  };

  DllJni() {
    std::memset(&table_, 0, sizeof table_);
    table_.reserved0 = this;
#define QV_FAKE(f) table_.f = f;
    QV_FAKE(GetObjectClass) QV_FAKE(DeleteLocalRef) QV_FAKE(ExceptionCheck) QV_FAKE(ExceptionClear)
    QV_FAKE(FindClass) QV_FAKE(ThrowNew) QV_FAKE(GetFieldID) QV_FAKE(GetIntField) QV_FAKE(SetIntField)
    QV_FAKE(GetShortField) QV_FAKE(GetBooleanField) QV_FAKE(GetObjectField) QV_FAKE(GetArrayLength)
    QV_FAKE(GetByteArrayElements) QV_FAKE(ReleaseByteArrayElements) QV_FAKE(GetCharArrayElements)
    QV_FAKE(ReleaseCharArrayElements) QV_FAKE(GetIntArrayElements) QV_FAKE(ReleaseIntArrayElements)
    QV_FAKE(GetStringLength) QV_FAKE(GetStringChars) QV_FAKE(ReleaseStringChars) QV_FAKE(GetStringRegion)
    QV_FAKE(NewString) QV_FAKE(NewStringUTF) QV_FAKE(NewByteArray) QV_FAKE(SetByteArrayRegion)
    // jni.h's C++ wrappers call the va_list forms.
    QV_FAKE(GetMethodID) QV_FAKE(NewObjectV) QV_FAKE(CallVoidMethodV) QV_FAKE(CallBooleanMethodV)
#undef QV_FAKE
    env_.functions = &table_;
  }
  DllJni(const DllJni&) = delete;
  DllJni& operator=(const DllJni&) = delete;

  JNIEnv* env() { return &env_; }

  Value* NewObject() { return &values_.emplace_back(); }
  // Never a null data pointer, as a JVM hands out none.
  Value* NewText(const std::u16string& text) {
    Value* v = NewObject();
    v->units.reserve(text.size() + 1);
    v->units.assign(text.begin(), text.end());
    return v;
  }
  jstring Str(const std::wstring& s) { return reinterpret_cast<jstring>(NewText(Units(s))); }
  jbyteArray Bytes(const std::string& b) {
    Value* v = NewObject();
    v->bytes.assign(b.begin(), b.end());
    return reinterpret_cast<jbyteArray>(v);
  }
  jintArray NewInts(std::vector<jint> ints) {
    Value* v = NewObject();
    v->ints = std::move(ints);
    return reinterpret_cast<jintArray>(v);
  }
  static Field& Add(Value* object, const char* name, const char* signature) {
    return object->fields[name] = Field{signature};
  }
  static jobject Ref(Value* v) { return reinterpret_cast<jobject>(v); }
  static Value& V(const void* o) { return *static_cast<Value*>(const_cast<void*>(o)); }
  static std::vector<jint>& Ints(jintArray a) { return V(a).ints; }
  static std::vector<jbyte>& BytesOf(jbyteArray a) { return V(a).bytes; }
  static std::u16string Units(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
  // A String or char[] up to its first NUL.
  static std::u16string Text(const void* v) {
    if (v == nullptr) return u"<null>";
    const std::u16string t(V(v).units.begin(), V(v).units.end());
    return t.substr(0, t.find(u'\0'));
  }

  std::string pending;  // the message of the pending exception, empty when none
  std::vector<std::vector<jint>> added;  // NetworkAddress objects (their setAddress values) added to a set
  std::vector<Write> writes;

 private:
  static DllJni& Of(JNIEnv* e) { return *static_cast<DllJni*>(e->functions->reserved0); }
  static Field& F(jfieldID f) { return *reinterpret_cast<Field*>(f); }

  static jclass JNICALL GetObjectClass(JNIEnv*, jobject o) { return reinterpret_cast<jclass>(o); }
  static void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}
  static jboolean JNICALL ExceptionCheck(JNIEnv* e) { return !Of(e).pending.empty(); }
  static void JNICALL ExceptionClear(JNIEnv* e) { Of(e).pending.clear(); }
  static jclass JNICALL FindClass(JNIEnv* e, const char*) { return reinterpret_cast<jclass>(&Of(e).classValue_); }
  static jint JNICALL ThrowNew(JNIEnv* e, jclass, const char* message) { Of(e).pending = message; return 0; }
  static jfieldID JNICALL GetFieldID(JNIEnv* e, jclass c, const char* name, const char* signature) {
    const auto it = V(c).fields.find(name);
    if (it != V(c).fields.end() && it->second.signature == signature) return reinterpret_cast<jfieldID>(&it->second);
    Of(e).pending = std::string("NoSuchFieldError: ") + name;
    return nullptr;
  }
  static jint JNICALL GetIntField(JNIEnv*, jobject, jfieldID f) { return F(f).i; }
  static void JNICALL SetIntField(JNIEnv*, jobject, jfieldID f, jint v) { F(f).i = v; }
  static jshort JNICALL GetShortField(JNIEnv*, jobject, jfieldID f) { return static_cast<jshort>(F(f).i); }
  static jboolean JNICALL GetBooleanField(JNIEnv*, jobject, jfieldID f) { return static_cast<jboolean>(F(f).i); }
  static jobject JNICALL GetObjectField(JNIEnv*, jobject, jfieldID f) { return Ref(F(f).object); }
  static jsize JNICALL GetArrayLength(JNIEnv*, jarray a) {  // an array fills one of the three
    return static_cast<jsize>(V(a).ints.size() + V(a).bytes.size() + V(a).units.size());
  }
  static jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray a, jboolean*) { return V(a).bytes.data(); }
  static void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint) {}
  static jchar* JNICALL GetCharArrayElements(JNIEnv*, jcharArray a, jboolean*) { return V(a).units.data(); }
  static void JNICALL ReleaseCharArrayElements(JNIEnv*, jcharArray, jchar*, jint) {}
  static jint* JNICALL GetIntArrayElements(JNIEnv*, jintArray a, jboolean*) { return Ints(a).data(); }
  static void JNICALL ReleaseIntArrayElements(JNIEnv*, jintArray, jint*, jint) {}
  static jsize JNICALL GetStringLength(JNIEnv*, jstring s) { return static_cast<jsize>(V(s).units.size()); }
  static const jchar* JNICALL GetStringChars(JNIEnv*, jstring s, jboolean*) { return V(s).units.data(); }
  static void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}
  static void JNICALL GetStringRegion(JNIEnv*, jstring s, jsize start, jsize length, jchar* out) {
    std::memcpy(out, V(s).units.data() + start, length * sizeof(jchar));
  }
  static jstring JNICALL NewString(JNIEnv* e, const jchar* units, jsize length) {
    return reinterpret_cast<jstring>(Of(e).NewText(std::u16string(reinterpret_cast<const char16_t*>(units), length)));
  }
  static jstring JNICALL NewStringUTF(JNIEnv* e, const char* s) { return Of(e).Str(std::wstring(s, s + strlen(s))); }
  static jbyteArray JNICALL NewByteArray(JNIEnv* e, jsize n) { return Of(e).Bytes(std::string(n, '\0')); }
  static void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize n, const jbyte* from) {
    std::memcpy(V(a).bytes.data() + start, from, static_cast<size_t>(n));
  }
  // Method ids: 2 OutputStream.write, 1 any other but Win32Exception's constructor.
  static jmethodID JNICALL GetMethodID(JNIEnv* e, jclass, const char*, const char* signature) {
    if (std::string(signature) != "(Ljava/lang/String;I)V")
      return reinterpret_cast<jmethodID>(std::string(signature) == "([BII)V" ? 2 : 1);
    Of(e).pending = "NoSuchMethodError";
    return nullptr;
  }
  static jobject JNICALL NewObjectV(JNIEnv* e, jclass, jmethodID, va_list) { return Ref(Of(e).NewObject()); }
  static void JNICALL CallVoidMethodV(JNIEnv* e, jobject o, jmethodID m, va_list args) {
    if (m != reinterpret_cast<jmethodID>(2)) {  // NetworkAddress.setAddress(8 ints)
      for (int i = 0; i < 8; ++i) V(o).ints.push_back(va_arg(args, jint));
      return;
    }
    const jbyteArray array = va_arg(args, jbyteArray);
    const jint offset = va_arg(args, jint), count = va_arg(args, jint);
    const auto& bytes = BytesOf(array);
    Of(e).writes.push_back({array, offset, std::string(bytes.data() + offset, bytes.data() + offset + count)});
  }
  static jboolean JNICALL CallBooleanMethodV(JNIEnv* e, jobject, jmethodID, va_list args) {
    Of(e).added.push_back(V(va_arg(args, jobject)).ints);
    return JNI_TRUE;
  }

  JNINativeInterface_ table_;
  JNIEnv env_;
  Value classValue_;
  std::deque<Value> values_;  // stable addresses
};

class QuorvaneDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dll_ = LoadLibraryW((ProgramFolder() + L"..\\" QV_WINDOWS_DLL_NAME).c_str()); }
  static void TearDownTestSuite() { FreeLibrary(dll_); dll_ = nullptr; }
  void SetUp() override { ASSERT_NE(nullptr, dll_) << "quorvane.dll did not load: " << GetLastError(); }

  // Calls the export the JVM looks up first: _Java_..._<name>@<bytes> on i686,
  // where every argument takes 4 bytes, the plain name on x64. A missing export fails.
  template <typename R, typename... A>
  R Call(const char* name, A... arguments) {
    std::string symbol = "Java_com_quorvane_infrastructure_os_windows_Win32Impl_" + std::string(name);
    if (sizeof(void*) == 4) symbol = "_" + symbol + "@" + std::to_string(8 + 4 * sizeof...(A));
    const auto method = reinterpret_cast<R(JNICALL*)(JNIEnv*, jclass, A...)>(
        reinterpret_cast<void*>(GetProcAddress(dll_, symbol.c_str())));
    EXPECT_NE(nullptr, method) << symbol;
    return method ? method(jni_.env(), nullptr, arguments...) : R();
  }

  DllJni jni_;

 private:
  static inline HMODULE dll_ = nullptr;
};

}  // namespace qvtest
