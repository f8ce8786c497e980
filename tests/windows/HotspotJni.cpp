// The JNI functions of HotspotJni: what HotSpot does, and what -Xcheck:jni reports as a fault.
#include "HotspotJni.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

namespace qvtest {

namespace {

constexpr size_t kGuard = 16;  // bytes after each copy, checked on release as -Xcheck:jni's guarded copies are
constexpr unsigned char kGuardByte = 0xA5;

// A function the env does not provide ends the program, naming it and the case.
[[noreturn]] void MissingFunction(size_t slot) {
  std::printf("\n%s: called JNI function #%zu, which this test's JNIEnv does not provide\n",
              HotspotJni::currentCase.c_str(), slot);
  std::fflush(stdout);
  _exit(3);
}
template <size_t N>
void JNICALL Missing() { MissingFunction(N); }
template <size_t... I>
std::array<void*, sizeof...(I)> Traps(std::index_sequence<I...>) {
  return {{reinterpret_cast<void*>(&Missing<I>)...}};
}
constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);

// The parameter types of a method signature, one letter each ('L' for any reference), and its return type.
std::string Parameters(const std::string& signature) {
  std::string types;
  for (size_t i = 1; i < signature.size() && signature[i] != ')'; ++i) {
    size_t at = i;
    while (signature[at] == '[') ++at;
    if (signature[at] == 'L') at = signature.find(';', at);
    types.push_back(at != i || signature[i] == 'L' ? 'L' : signature[i]);
    i = at;
  }
  return types;
}
char ReturnType(const std::string& signature) {
  const char r = signature[signature.find(')') + 1];
  return r == '[' ? 'L' : r;
}

// Modified UTF-8 into UTF-16; false for anything else.
bool FromModifiedUtf8(const char* s, std::u16string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  for (; *p; ++p) {
    if (*p < 0x80) {
      out.push_back(*p);
    } else if ((*p & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
      const char16_t u = static_cast<char16_t>(((*p & 0x1F) << 6) | (p[1] & 0x3F));
      if (u < 0x80 && u != 0) return false;
      out.push_back(u), ++p;
    } else if ((*p & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      const char16_t u = static_cast<char16_t>(((*p & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
      if (u < 0x800) return false;
      out.push_back(u), p += 2;
    } else {
      return false;
    }
  }
  return true;
}

bool IsArray(HotspotJni::Kind k) {
  using K = HotspotJni::Kind;
  return k == K::kCharArray || k == K::kByteArray || k == K::kIntArray || k == K::kObjectArray;
}

}  // namespace

// The JNI functions, with access to the env's insides.
struct Functions {
  using J = HotspotJni;
  using Value = J::Value;
  using Kind = J::Kind;
  using Slot = J::Slot;

  // The env of a call to `function`, checked on entry.
  static J& In(JNIEnv* e, const char* function, bool exceptionSafe = false) {
    J& j = J::Of(e);
    j.Enter(function, exceptionSafe);
    return j;
  }
  static J::ClassModel* ModelOf(J& j, jclass c, const char* function) {
    Value* v = j.Resolve(c, function);
    if (v == nullptr || v->kind != Kind::kClass)
      return j.Fault(std::string(function) + ": not a class reference"), nullptr;
    return v->cls;
  }
  static Value* Array(J& j, jarray a, Kind kind, const char* function) {
    Value* v = j.Resolve(a, function);
    if (v == nullptr || (kind == Kind::kObject ? !IsArray(v->kind) : v->kind != kind))
      return j.Fault(std::string(function) + (v == nullptr ? ": null array" : ": wrong kind of array")), nullptr;
    return v;
  }

  // --- classes and references ---
  static jclass JNICALL FindClass(JNIEnv* e, const char* name) {
    J& j = In(e, "FindClass");
    J::ClassModel* c = J::FindModel(name ? name : "");
    if (c == nullptr) return j.Raise("java/lang/NoClassDefFoundError", name ? name : "null"), nullptr;
    return static_cast<jclass>(j.Local(c->object));
  }
  static jclass JNICALL GetObjectClass(JNIEnv* e, jobject o) {
    J& j = In(e, "GetObjectClass");
    Value* v = j.Resolve(o, "GetObjectClass");
    if (v == nullptr) return j.Fault("GetObjectClass: null object"), nullptr;
    return static_cast<jclass>(j.Local(j.ClassOf(v)->object));
  }
  static jboolean JNICALL IsInstanceOf(JNIEnv* e, jobject o, jclass c) {
    J& j = In(e, "IsInstanceOf");
    Value* v = j.Resolve(o, "IsInstanceOf");
    J::ClassModel* model = ModelOf(j, c, "IsInstanceOf");
    return v == nullptr || (model != nullptr && J::IsA(j.ClassOf(v), model));
  }
  static jboolean JNICALL IsSameObject(JNIEnv* e, jobject a, jobject b) {
    J& j = In(e, "IsSameObject");
    return j.Resolve(a, "IsSameObject") == j.Resolve(b, "IsSameObject");
  }
  static jobject JNICALL NewGlobalRef(JNIEnv* e, jobject o) {
    J& j = In(e, "NewGlobalRef");
    return j.Global(j.Resolve(o, "NewGlobalRef"));
  }
  static void JNICALL DeleteLocalRef(JNIEnv* e, jobject o) {
    J& j = In(e, "DeleteLocalRef", true);
    auto* h = reinterpret_cast<J::Handle*>(o);
    if (o == nullptr || h->tag != J::kHandleTag) return;  // null, or one of the call's arguments
    if (h->global) return j.Fault("DeleteLocalRef of a global reference");
    if (!h->live) return j.Fault("DeleteLocalRef of a reference deleted already");
    h->live = false;
    for (J::Frame& f : j.frames_)
      for (auto it = f.locals.begin(); it != f.locals.end(); ++it)
        if (*it == h) {
          f.locals.erase(it);
          return;
        }
  }
  static jint JNICALL PushLocalFrame(JNIEnv* e, jint capacity) {
    J& j = In(e, "PushLocalFrame", true);
    if (capacity < 0) return j.Fault("PushLocalFrame: negative capacity"), -1;
    j.frames_.push_back(J::Frame{static_cast<size_t>(capacity)});
    return 0;
  }
  static jobject JNICALL PopLocalFrame(JNIEnv* e, jobject result) {
    J& j = In(e, "PopLocalFrame", true);
    if (j.frames_.size() < 2) return j.Fault("PopLocalFrame without PushLocalFrame"), nullptr;
    Value* kept = j.Resolve(result, "PopLocalFrame");
    for (J::Handle* h : j.frames_.back().locals) h->live = false;
    j.frames_.pop_back();
    return j.Local(kept);
  }
  static jint JNICALL EnsureLocalCapacity(JNIEnv* e, jint capacity) {
    J& j = In(e, "EnsureLocalCapacity");
    if (capacity < 0) return -1;
    J::Frame& f = j.frames_.back();
    f.capacity = std::max(f.capacity, static_cast<size_t>(capacity));
    return 0;
  }

  // --- exceptions ---
  static jint JNICALL Throw(JNIEnv* e, jthrowable t) {
    J& j = In(e, "Throw");
    Value* v = j.Resolve(t, "Throw");
    if (v == nullptr || !J::IsA(j.ClassOf(v), J::FindModel("java/lang/Throwable")))
      return j.Fault("Throw: not a Throwable"), -1;
    j.thrown_ = v;
    return 0;
  }
  static jint JNICALL ThrowNew(JNIEnv* e, jclass c, const char* message) {
    J& j = In(e, "ThrowNew");
    J::ClassModel* model = ModelOf(j, c, "ThrowNew");
    if (model == nullptr) return -1;
    if (!J::IsA(model, J::FindModel("java/lang/Throwable")) ||
        J::FindMethod(model, "<init>", "(Ljava/lang/String;)V") == nullptr) {
      j.Fault("ThrowNew: " + model->name + " is no Throwable with a (String) constructor");
      return -1;
    }
    std::u16string text;
    if (message != nullptr && !FromModifiedUtf8(message, text)) j.Fault("ThrowNew: message is not modified UTF-8");
    j.Raise(model->name.c_str(), std::string(text.begin(), text.end()));
    return 0;
  }
  static void JNICALL ExceptionClear(JNIEnv* e) {
    In(e, "ExceptionClear", true).thrown_ = nullptr;
  }
  static jboolean JNICALL ExceptionCheck(JNIEnv* e) {
    return In(e, "ExceptionCheck", true).thrown_ != nullptr;
  }

  // --- fields ---
  // The signature `at` itself declares for the field, or empty.
  static std::string Declared(const J::ClassModel& at, const std::string& name, bool isStatic) {
    if (isStatic) return at.statics.count(name) ? at.statics.at(name).signature : "";
    if (at.record != nullptr) return at.record->fields.count(name) ? at.record->fields.at(name).signature : "";
    return at.instanceFields.count(name) ? at.instanceFields.at(name) : "";
  }
  static jfieldID FindField(JNIEnv* e, jclass c, const char* name, const char* sig, bool isStatic,
                            const char* function) {
    J& j = In(e, function);
    J::ClassModel* model = ModelOf(j, c, function);
    if (model == nullptr || name == nullptr || sig == nullptr) return nullptr;
    for (J::ClassModel* at = model; at != nullptr; at = at->super) {
      const std::string declared = Declared(*at, name, isStatic);
      if (declared.empty()) continue;
      if (declared != sig) break;  // a JVM matches name and type together
      for (J::FieldId& id : at->fieldIds)
        if (id.name == name && id.signature == sig && id.isStatic == isStatic) return reinterpret_cast<jfieldID>(&id);
      return reinterpret_cast<jfieldID>(&at->fieldIds.emplace_back(J::FieldId{at, name, sig, isStatic}));
    }
    j.Raise("java/lang/NoSuchFieldError", name);
    return nullptr;
  }
  static jfieldID JNICALL GetFieldID(JNIEnv* e, jclass c, const char* name, const char* sig) {
    return FindField(e, c, name, sig, false, "GetFieldID");
  }
  static jfieldID JNICALL GetStaticFieldID(JNIEnv* e, jclass c, const char* name, const char* sig) {
    return FindField(e, c, name, sig, true, "GetStaticFieldID");
  }
  // The field an accessor of type `type` ('L' any reference) reaches, or null with a fault.
  static J::Field* Reach(J& j, jobject o, jclass c, jfieldID f, char type, const char* function) {
    j.Enter(function);
    auto* id = reinterpret_cast<J::FieldId*>(f);
    if (id == nullptr) return j.Fault(std::string(function) + ": null field ID"), nullptr;
    const char declared = id->signature[0] == '[' ? 'L' : id->signature[0];
    if (declared != type)
      return j.Fault(std::string(function) + " on " + id->name + " of type " + id->signature), nullptr;
    if (id->isStatic != (c != nullptr))
      return j.Fault(std::string(function) + ": a " + (id->isStatic ? "static" : "instance") + " field ID"), nullptr;
    if (id->isStatic) {
      J::ClassModel* model = ModelOf(j, c, function);
      if (model == nullptr || !J::IsA(model, id->owner))
        return j.Fault(std::string(function) + ": wrong class"), nullptr;
      return &id->owner->statics[id->name];
    }
    Value* v = j.Resolve(o, function);
    if (v == nullptr || !J::IsA(j.ClassOf(v), id->owner))
      return j.Fault(std::string(function) + ": object is not of the field's class"), nullptr;
    return &v->fields[id->name];
  }

#define QV_FIELD(Type, jtype, letter, member)                                                     \
  static jtype JNICALL Get##Type##Field(JNIEnv* e, jobject o, jfieldID f) {                      \
    J::Field* x = Reach(J::Of(e), o, nullptr, f, letter, "Get" #Type "Field");                   \
    return x ? static_cast<jtype>(x->member) : jtype();                                          \
  }                                                                                              \
  static void JNICALL Set##Type##Field(JNIEnv* e, jobject o, jfieldID f, jtype value) {          \
    if (J::Field* x = Reach(J::Of(e), o, nullptr, f, letter, "Set" #Type "Field")) x->member = value; \
  }                                                                                              \
  static jtype JNICALL GetStatic##Type##Field(JNIEnv* e, jclass c, jfieldID f) {                 \
    J::Field* x = Reach(J::Of(e), nullptr, c, f, letter, "GetStatic" #Type "Field");             \
    return x ? static_cast<jtype>(x->member) : jtype();                                          \
  }                                                                                              \
  static void JNICALL SetStatic##Type##Field(JNIEnv* e, jclass c, jfieldID f, jtype value) {      \
    if (J::Field* x = Reach(J::Of(e), nullptr, c, f, letter, "SetStatic" #Type "Field")) x->member = value; \
  }
  QV_FIELD(Boolean, jboolean, 'Z', i)
  QV_FIELD(Byte, jbyte, 'B', i)
  QV_FIELD(Char, jchar, 'C', i)
  QV_FIELD(Short, jshort, 'S', i)
  QV_FIELD(Int, jint, 'I', i)
  QV_FIELD(Long, jlong, 'J', j)
  QV_FIELD(Float, jfloat, 'F', d)
  QV_FIELD(Double, jdouble, 'D', d)
#undef QV_FIELD
  static jobject JNICALL GetObjectField(JNIEnv* e, jobject o, jfieldID f) {
    J& j = J::Of(e);
    J::Field* x = Reach(j, o, nullptr, f, 'L', "GetObjectField");
    return x ? j.Local(x->object) : nullptr;
  }
  static jobject JNICALL GetStaticObjectField(JNIEnv* e, jclass c, jfieldID f) {
    J& j = J::Of(e);
    J::Field* x = Reach(j, nullptr, c, f, 'L', "GetStaticObjectField");
    return x ? j.Local(x->object) : nullptr;
  }

  // --- methods ---
  static jmethodID FindMethodId(JNIEnv* e, jclass c, const char* name, const char* sig, bool isStatic,
                                const char* function) {
    J& j = In(e, function);
    J::ClassModel* model = ModelOf(j, c, function);
    if (model == nullptr) return nullptr;
    const J::Method* m = J::FindMethod(model, name ? name : "", sig ? sig : "");
    if (m == nullptr || m->isStatic != isStatic)
      return j.Raise("java/lang/NoSuchMethodError", std::string(name ? name : "") + (sig ? sig : "")), nullptr;
    return reinterpret_cast<jmethodID>(const_cast<J::Method*>(m));
  }
  static jmethodID JNICALL GetMethodID(JNIEnv* e, jclass c, const char* name, const char* sig) {
    return FindMethodId(e, c, name, sig, false, "GetMethodID");
  }
  static jmethodID JNICALL GetStaticMethodID(JNIEnv* e, jclass c, const char* name, const char* sig) {
    return FindMethodId(e, c, name, sig, true, "GetStaticMethodID");
  }
  // One call: `self` is the receiver (instance) or null with `c` the class (static); `type` is what the
  // Call<Type>Method form answers ('L' any reference).
  static Slot Invoke(J& j, jobject self, jclass c, jmethodID mid, va_list args, char type, const char* function) {
    Slot none{};
    j.Enter(function);
    auto* m = reinterpret_cast<J::Method*>(mid);
    if (m == nullptr) return j.Fault(std::string(function) + ": null method ID"), none;
    if (ReturnType(m->signature) != type && !(type == 'V' && m->name == "<init>"))
      return j.Fault(std::string(function) + " on " + m->name + m->signature), none;
    Value* receiver = nullptr;
    const J::Method* target = m;
    if (c != nullptr) {
      J::ClassModel* model = ModelOf(j, c, function);
      if (!m->isStatic || model == nullptr || !J::IsA(model, m->owner))
        return j.Fault(std::string(function) + ": " + m->name + " is no static method of that class"), none;
    } else {
      receiver = j.Resolve(self, function);
      if (receiver == nullptr) return j.Fault(std::string(function) + ": null receiver"), none;
      if (m->isStatic || !J::IsA(j.ClassOf(receiver), m->owner))
        return j.Fault(std::string(function) + ": " + m->name + " is not a method of the receiver's class"), none;
      if (m->name != "<init>") target = J::FindMethod(j.ClassOf(receiver), m->name, m->signature);  // virtual
    }
    std::vector<Slot> values;
    for (char p : Parameters(m->signature)) {
      Slot s{};
      if (p == 'J') s.j = va_arg(args, jlong);
      else if (p == 'F' || p == 'D') s.d = va_arg(args, double);
      else if (p == 'L') s.l = j.Resolve(va_arg(args, jobject), function);
      else s.i = va_arg(args, jint);
      values.push_back(s);
    }
    return target->body ? target->body(j, receiver, values) : none;
  }
  static jobject JNICALL NewObjectV(JNIEnv* e, jclass c, jmethodID mid, va_list args) {
    J& j = J::Of(e);
    J::ClassModel* model = ModelOf(j, c, "NewObjectV");
    auto* m = reinterpret_cast<J::Method*>(mid);
    if (model == nullptr || m == nullptr || m->name != "<init>" || m->owner != model || model->isAbstract)
      return j.Fault("NewObjectV: not a constructor of that concrete class"), nullptr;
    Value* object = j.NewObject(model);
    Invoke(j, J::Ref(object), nullptr, mid, args, 'V', "NewObjectV");
    return j.thrown_ ? nullptr : j.Local(object);
  }
  static jobject JNICALL CallObjectMethodV(JNIEnv* e, jobject o, jmethodID m, va_list args) {
    J& j = J::Of(e);
    return j.Local(Invoke(j, o, nullptr, m, args, 'L', "CallObjectMethodV").l);
  }
  static jboolean JNICALL CallBooleanMethodV(JNIEnv* e, jobject o, jmethodID m, va_list args) {
    return static_cast<jboolean>(Invoke(J::Of(e), o, nullptr, m, args, 'Z', "CallBooleanMethodV").i);
  }
  static jint JNICALL CallIntMethodV(JNIEnv* e, jobject o, jmethodID m, va_list args) {
    return Invoke(J::Of(e), o, nullptr, m, args, 'I', "CallIntMethodV").i;
  }
  static void JNICALL CallVoidMethodV(JNIEnv* e, jobject o, jmethodID m, va_list args) {
    Invoke(J::Of(e), o, nullptr, m, args, 'V', "CallVoidMethodV");
  }
  static jobject JNICALL CallStaticObjectMethodV(JNIEnv* e, jclass c, jmethodID m, va_list args) {
    J& j = J::Of(e);
    return j.Local(Invoke(j, nullptr, c, m, args, 'L', "CallStaticObjectMethodV").l);
  }

  // --- strings ---
  static Value* StringOf(J& j, jstring s, const char* function) {
    Value* v = j.Resolve(s, function);
    if (v == nullptr || v->kind != Kind::kString) j.Fault(std::string(function) + (v ? ": not a String" : ": null"));
    return v && v->kind == Kind::kString ? v : nullptr;
  }
  static jstring JNICALL NewString(JNIEnv* e, const jchar* units, jsize length) {
    J& j = In(e, "NewString");
    if (length < 0 || (units == nullptr && length > 0)) return j.Fault("NewString: bad length or units"), nullptr;
    return static_cast<jstring>(j.Local(j.NewString16(std::u16string(reinterpret_cast<const char16_t*>(units),
                                                                      static_cast<size_t>(length)))));
  }
  static jstring JNICALL NewStringUTF(JNIEnv* e, const char* bytes) {
    J& j = In(e, "NewStringUTF");
    if (bytes == nullptr) return nullptr;
    std::u16string text;
    if (!FromModifiedUtf8(bytes, text)) j.Fault("NewStringUTF: input is not modified UTF-8");
    return static_cast<jstring>(j.Local(j.NewString16(text)));
  }
  static jsize JNICALL GetStringLength(JNIEnv* e, jstring s) {
    J& j = In(e, "GetStringLength");
    Value* v = StringOf(j, s, "GetStringLength");
    return v ? static_cast<jsize>(v->units.size()) : 0;
  }
  static const jchar* JNICALL GetStringChars(JNIEnv* e, jstring s, jboolean* isCopy) {
    J& j = In(e, "GetStringChars");
    Value* v = StringOf(j, s, "GetStringChars");
    if (v == nullptr) return nullptr;
    std::vector<jchar> terminated(v->units);
    terminated.push_back(0);  // HotSpot ends its copy with a zero
    return j.Lend(v, Kind::kString, terminated, isCopy);
  }
  static void JNICALL ReleaseStringChars(JNIEnv* e, jstring s, const jchar* chars) {
    J& j = In(e, "ReleaseStringChars", true);
    j.TakeBack<jchar>(StringOf(j, s, "ReleaseStringChars"), Kind::kString, nullptr, const_cast<jchar*>(chars),
                      JNI_ABORT, "ReleaseStringChars");
  }
  static void JNICALL GetStringRegion(JNIEnv* e, jstring s, jsize start, jsize length, jchar* out) {
    J& j = In(e, "GetStringRegion");
    Value* v = StringOf(j, s, "GetStringRegion");
    if (v == nullptr) return;
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > v->units.size())
      return j.Raise("java/lang/StringIndexOutOfBoundsException", "region " + std::to_string(start) + "+" +
                     std::to_string(length) + " of length " + std::to_string(v->units.size()));
    if (length > 0) std::memcpy(out, v->units.data() + start, static_cast<size_t>(length) * sizeof(jchar));
  }

  // --- arrays ---
  static jsize JNICALL GetArrayLength(JNIEnv* e, jarray a) {
    J& j = In(e, "GetArrayLength");
    Value* v = Array(j, a, Kind::kObject, "GetArrayLength");
    if (v == nullptr) return 0;
    return static_cast<jsize>(v->kind == Kind::kCharArray ? v->units.size() : v->kind == Kind::kByteArray ?
                              v->bytes.size() : v->kind == Kind::kIntArray ? v->ints.size() : v->elements.size());
  }
  static jbyteArray JNICALL NewByteArray(JNIEnv* e, jsize n) {
    J& j = In(e, "NewByteArray");
    if (n < 0) return j.Raise("java/lang/NegativeArraySizeException", std::to_string(n)), nullptr;
    return static_cast<jbyteArray>(j.Local(&J::V(j.Bytes(std::string(static_cast<size_t>(n), '\0')))));
  }
  template <typename T>
  static std::vector<T>& Store(Value* v) {
    if constexpr (std::is_same_v<T, jbyte>) return v->bytes;
    else if constexpr (std::is_same_v<T, jchar>) return v->units;
    else return v->ints;
  }
#define QV_ARRAY(Type, jtype, kind)                                                                        \
  static jtype* JNICALL Get##Type##ArrayElements(JNIEnv* e, jtype##Array a, jboolean* isCopy) {            \
    J& j = In(e, "Get" #Type "ArrayElements");                                                             \
    Value* v = Array(j, a, kind, "Get" #Type "ArrayElements");                                             \
    return v ? j.Lend(v, kind, Store<jtype>(v), isCopy) : nullptr;                                           \
  }                                                                                                        \
  static void JNICALL Release##Type##ArrayElements(JNIEnv* e, jtype##Array a, jtype* elements, jint mode) { \
    J& j = In(e, "Release" #Type "ArrayElements", true);                                                   \
    Value* v = Array(j, a, kind, "Release" #Type "ArrayElements");                                         \
    j.TakeBack<jtype>(v, kind, v ? &Store<jtype>(v) : nullptr, elements, mode, "Release" #Type "ArrayElements"); \
  }
  QV_ARRAY(Byte, jbyte, Kind::kByteArray)
  QV_ARRAY(Char, jchar, Kind::kCharArray)
  QV_ARRAY(Int, jint, Kind::kIntArray)
#undef QV_ARRAY
  static void JNICALL SetByteArrayRegion(JNIEnv* e, jbyteArray a, jsize start, jsize n, const jbyte* in) {
    J& j = In(e, "SetByteArrayRegion");
    Value* v = Array(j, a, Kind::kByteArray, "SetByteArrayRegion");
    if (v != nullptr && InBounds(j, v->bytes.size(), start, n) && n > 0)
      std::memcpy(v->bytes.data() + start, in, static_cast<size_t>(n));
  }
  static void JNICALL SetObjectArrayElement(JNIEnv* e, jobjectArray a, jsize index, jobject value) {
    J& j = In(e, "SetObjectArrayElement");
    Value* v = Array(j, a, Kind::kObjectArray, "SetObjectArrayElement");
    Value* element = value == nullptr ? nullptr : j.Resolve(value, "SetObjectArrayElement");
    if (v != nullptr && InBounds(j, v->elements.size(), index, 1)) v->elements[static_cast<size_t>(index)] = element;
  }
  static bool InBounds(J& j, size_t size, jsize start, jsize n) {
    if (start >= 0 && n >= 0 && static_cast<size_t>(start) + static_cast<size_t>(n) <= size) return true;
    j.Raise("java/lang/ArrayIndexOutOfBoundsException", "region " + std::to_string(start) + "+" + std::to_string(n) +
            " of length " + std::to_string(size));
    return false;
  }

  // --- monitors ---
  static jint JNICALL MonitorEnter(JNIEnv* e, jobject o) {
    J& j = In(e, "MonitorEnter");
    Value* v = j.Resolve(o, "MonitorEnter");
    if (v == nullptr) return j.Fault("MonitorEnter: null"), -1;
    ++v->monitor;
    return 0;
  }
  static jint JNICALL MonitorExit(JNIEnv* e, jobject o) {
    J& j = In(e, "MonitorExit", true);
    Value* v = j.Resolve(o, "MonitorExit");
    if (v == nullptr || v->monitor == 0) return j.Raise("java/lang/IllegalMonitorStateException", "not owner"), -1;
    --v->monitor;
    return 0;
  }
};

void HotspotJni::InstallFunctions(JNINativeInterface_& t) {
  static const auto traps = Traps(std::make_index_sequence<kSlots>());
  void** slots = reinterpret_cast<void**>(&t);
  for (size_t i = 4; i < kSlots; ++i) slots[i] = traps[i];  // 0-3 are reserved
#define QV_FN(f) t.f = Functions::f;
  QV_FN(FindClass) QV_FN(GetObjectClass) QV_FN(IsInstanceOf) QV_FN(IsSameObject) QV_FN(NewGlobalRef)
  QV_FN(DeleteLocalRef) QV_FN(PushLocalFrame) QV_FN(PopLocalFrame) QV_FN(EnsureLocalCapacity) QV_FN(Throw)
  QV_FN(ThrowNew) QV_FN(ExceptionClear) QV_FN(ExceptionCheck) QV_FN(GetFieldID) QV_FN(GetStaticFieldID)
  QV_FN(GetObjectField) QV_FN(GetStaticObjectField)
  QV_FN(GetMethodID) QV_FN(GetStaticMethodID) QV_FN(NewObjectV) QV_FN(CallObjectMethodV) QV_FN(CallBooleanMethodV)
  QV_FN(CallIntMethodV) QV_FN(CallVoidMethodV) QV_FN(CallStaticObjectMethodV) QV_FN(NewString) QV_FN(NewStringUTF)
  QV_FN(GetStringLength) QV_FN(GetStringChars) QV_FN(ReleaseStringChars) QV_FN(GetStringRegion)
  QV_FN(GetArrayLength) QV_FN(NewByteArray) QV_FN(MonitorEnter) QV_FN(MonitorExit)
#define QV_FIELD_FNS(Type) QV_FN(Get##Type##Field) QV_FN(Set##Type##Field) QV_FN(GetStatic##Type##Field) \
  QV_FN(SetStatic##Type##Field)
  QV_FIELD_FNS(Boolean) QV_FIELD_FNS(Byte) QV_FIELD_FNS(Char) QV_FIELD_FNS(Short) QV_FIELD_FNS(Int)
  QV_FIELD_FNS(Long) QV_FIELD_FNS(Float) QV_FIELD_FNS(Double)
#define QV_ARRAY_FNS(Type) QV_FN(Get##Type##ArrayElements) QV_FN(Release##Type##ArrayElements)
  QV_ARRAY_FNS(Byte) QV_ARRAY_FNS(Char) QV_ARRAY_FNS(Int) QV_FN(SetByteArrayRegion) QV_FN(SetObjectArrayElement)
#undef QV_ARRAY_FNS
#undef QV_FIELD_FNS
#undef QV_FN
}

HotspotJni::HotspotJni() {
  std::memset(&table_, 0, sizeof table_);
  InstallFunctions(table_);
  table_.reserved0 = this;
  env_.functions = &table_;
  frames_.push_back(Frame{});
}

HotspotJni::~HotspotJni() {
  for (auto& [buffer, borrowed] : borrowed_) std::free(buffer);
}

void HotspotJni::Fault(const std::string& what) { faults.push_back((call_.empty() ? "" : call_ + ": ") + what); }

void HotspotJni::Enter(const char* function, bool exceptionSafe) {
  if (thrown_ != nullptr && !exceptionSafe)
    Fault(std::string(function) + " called with an exception pending (" + Pending() + ")");
}

HotspotJni::Value& HotspotJni::V(const void* o) {
  const auto* h = static_cast<const Handle*>(o);
  if (h->tag == kHandleTag) return *h->target;
  return *static_cast<Value*>(const_cast<void*>(o));
}

HotspotJni::Value* HotspotJni::Resolve(jobject o, const char* function) {
  if (o == nullptr) return nullptr;
  auto* h = reinterpret_cast<Handle*>(o);
  if (h->tag == kHandleTag) {
    if (!h->live) Fault(std::string(function) + ": used a deleted reference");
    return h->target;
  }
  if (reinterpret_cast<Value*>(o)->tag != kValueTag) return Fault(std::string(function) + ": not a reference"), nullptr;
  return reinterpret_cast<Value*>(o);  // one the caller holds
}

jobject HotspotJni::Local(Value* v) {
  if (v == nullptr) return nullptr;
  Handle& h = handles_.emplace_back();
  h.target = v;
  Frame& f = frames_.back();
  f.locals.push_back(&h);
  if (f.locals.size() > f.capacity && !f.warned) {
    f.warned = true;
    Fault(std::to_string(f.locals.size()) + " live local references exceed the frame's capacity of " +
          std::to_string(f.capacity));
  }
  return reinterpret_cast<jobject>(&h);
}

jobject HotspotJni::Global(Value* v) {
  if (v == nullptr) return nullptr;
  static std::deque<Handle> globals;  // the library keeps some for the life of the process
  Handle& h = globals.emplace_back();
  h.target = v;
  h.global = true;
  return reinterpret_cast<jobject>(&h);
}

template <typename T>
T* HotspotJni::Lend(Value* array, Kind kind, const std::vector<T>& from, jboolean* isCopy) {
  const size_t bytes = from.size() * sizeof(T);
  auto* buffer = static_cast<unsigned char*>(std::malloc(bytes + kGuard));
  if (bytes) std::memcpy(buffer, from.data(), bytes);
  std::memset(buffer + bytes, kGuardByte, kGuard);
  borrowed_[buffer] = Borrowed{array, kind, bytes};
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return reinterpret_cast<T*>(buffer);
}

template <typename T>
void HotspotJni::TakeBack(Value* array, Kind kind, std::vector<T>* into, void* buffer, jint mode,
                          const char* function) {
  const auto it = borrowed_.find(buffer);
  if (it == borrowed_.end()) return Fault(std::string(function) + ": a buffer never handed out, or released twice");
  Borrowed b = it->second;
  if (b.array != array || b.kind != kind) Fault(std::string(function) + ": a buffer of another array");
  auto* bytes = static_cast<unsigned char*>(buffer);
  if (std::any_of(bytes + b.bytes, bytes + b.bytes + kGuard, [](unsigned char c) { return c != kGuardByte; }))
    Fault(std::string(function) + ": written past the end of the copy");
  if (kind == Kind::kString && std::memcmp(buffer, array->units.data(), array->units.size() * sizeof(jchar)) != 0)
    Fault(std::string(function) + ": a String's characters were changed");
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) Fault(std::string(function) + ": unknown mode");
  releases.push_back({function, mode, std::string(static_cast<const char*>(buffer), b.bytes)});
  if ((mode == 0 || mode == JNI_COMMIT) && into != nullptr && b.array == array)
    std::memcpy(into->data(), buffer, std::min(b.bytes, into->size() * sizeof(T)));
  if (mode != JNI_COMMIT) {
    borrowed_.erase(it);
    std::free(buffer);
  }
}

void HotspotJni::BeginCall(const std::string& method) {
  call_ = method;
  thrown_ = nullptr;
  frames_.assign(1, Frame{});
}

jobject HotspotJni::EndCall(jobject result) {
  Value* v = result ? &V(result) : nullptr;
  if (frames_.size() != 1) Fault(std::to_string(frames_.size() - 1) + " local frame(s) pushed and never popped");
  for (auto& [buffer, b] : borrowed_) {
    Fault("elements of an array or String never released");
    std::free(buffer);
  }
  borrowed_.clear();
  for (Value& value : values_)
    if (value.monitor != 0) Fault("a monitor entered and never exited"), value.monitor = 0;
  for (Frame& f : frames_)
    for (Handle* h : f.locals) h->live = false;
  frames_.assign(1, Frame{});
  call_.clear();
  return reinterpret_cast<jobject>(v);
}

std::u16string HotspotJni::Text(const void* v) {
  if (v == nullptr) return u"<null>";
  const std::u16string t(V(v).units.begin(), V(v).units.end());
  return t.substr(0, t.find(u'\0'));
}

std::string HotspotJni::Pending() const {
  if (thrown_ == nullptr) return "";
  std::string name = thrown_->cls ? thrown_->cls->name : "?";
  std::replace(name.begin(), name.end(), '/', '.');
  const auto message = thrown_->fields.find("detailMessage");
  if (message == thrown_->fields.end() || message->second.object == nullptr) return name;
  const std::u16string text = Text(message->second.object);
  std::string narrow;
  for (char16_t u : text) narrow.push_back(u < 0x80 ? static_cast<char>(u) : '?');
  return name + ": " + narrow;
}

jint HotspotJni::PendingCode() const {
  if (thrown_ == nullptr) return 0;
  const auto code = thrown_->fields.find("code");
  return code == thrown_->fields.end() ? 0 : code->second.i;
}

void HotspotJni::Raise(const char* className, const std::string& message) {
  Value* e = NewObject(FindModel(className));
  Add(e, "detailMessage", "Ljava/lang/String;").object = NewString16(std::u16string(message.begin(), message.end()));
  thrown_ = e;
}

}  // namespace qvtest
