// A JNIEnv that behaves as HotSpot's under -Xcheck:jni, with no JVM: strings and arrays are handed out as
// guarded copies, release modes are honoured, local references are counted per frame, fields and methods are
// found by name and signature on a class model, and java.util.Properties is a real map of Java strings. Every
// misuse HotSpot would warn about or die of is recorded in `faults`; the test owning the env fails on any.
#pragma once

#include <jni.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvtest {

class HotspotJni {
 public:
  enum class Kind { kObject, kClass, kString, kCharArray, kByteArray, kIntArray, kObjectArray };
  struct Value;
  struct ClassModel;
  struct Field {
    std::string signature;
    jint i = 0;       // I, S, Z, B, C
    jlong j = 0;      // J
    double d = 0;     // F, D
    Value* object = nullptr;
  };
  // A Java object on the heap. The test reads and changes it directly; native code sees it only through
  // references and copies.
  struct Value {
    uint32_t tag = kValueTag;
    Kind kind = Kind::kObject;
    ClassModel* cls = nullptr;  // null: a record, whose class is made of its own fields
    std::map<std::string, Field> fields;
    std::vector<jchar> units;   // String, char[]
    std::vector<jbyte> bytes;   // byte[]
    std::vector<jint> ints;     // int[]
    std::vector<Value*> elements;  // Object[], an enumeration's or a view's snapshot
    size_t cursor = 0;             // an enumeration's position
    std::map<std::u16string, std::pair<Value*, Value*>> map;  // Properties: key text -> (key, value)
    int monitor = 0;
    std::unique_ptr<ClassModel> ownClass;
  };
  union Slot {  // the widest member first, so Slot{} is all zeros
    jlong j;
    jint i;
    double d;
    Value* l;
  };
  using Body = std::function<Slot(HotspotJni&, Value* self, const std::vector<Slot>& args)>;
  struct Method {
    std::string name, signature;
    bool isStatic;
    ClassModel* owner;
    Body body;
  };
  struct FieldId {
    ClassModel* owner;
    std::string name, signature;
    bool isStatic;
  };
  struct ClassModel {
    std::string name;
    ClassModel* super = nullptr;
    ClassModel* component = nullptr;  // an array class's element class
    std::vector<ClassModel*> interfaces;
    bool isAbstract = false;
    Value* record = nullptr;  // a record's class: its instance fields are the record's
    std::map<std::string, std::string> instanceFields;  // name -> signature
    std::map<std::string, Field> statics;
    std::deque<Method> methods;
    std::deque<FieldId> fieldIds;
    Value* object = nullptr;  // the java.lang.Class
  };
  struct Write {  // an OutputStream.write(array, offset, count)
    jbyteArray array;
    jint offset;
    std::string bytes;
  };

  HotspotJni();
  ~HotspotJni();
  HotspotJni(const HotspotJni&) = delete;
  HotspotJni& operator=(const HotspotJni&) = delete;

  JNIEnv* env() { return &env_; }

  // --- the test's side: values it makes and reads ---
  Value* NewObject(ClassModel* cls = nullptr);
  Value* NewText(const std::u16string& text, Kind kind = Kind::kCharArray);
  jstring Str(const std::wstring& s);
  jbyteArray Bytes(const std::string& b);
  jintArray NewInts(std::vector<jint> ints);
  Value* NewArray(Kind kind);  // empty
  // A java.util.Properties holding these entries.
  jobject NewProperties(const std::vector<std::pair<std::u16string, std::u16string>>& entries = {});
  jobject NewOutputStream();  // its writes go to `writes`
  jobject NewHashSet();       // NetworkAddress objects added go to `added`
  // A class of its own, with declared instance fields and static fields (name -> signature).
  ClassModel* NewClass(const std::string& name, const std::map<std::string, std::string>& instanceFields,
                       const std::map<std::string, std::string>& staticFields);
  // A record from "SIG name [length]" entries, comma-separated: numbers zero, T a null String field, [C and [B
  // arrays of `length` zeros.
  Value* NewRecord(const std::string& fields);
  static std::map<std::u16string, std::u16string> Entries(const void* properties);  // String values only

  static Field& Add(Value* object, const char* name, const char* signature) {
    return object->fields[name] = Field{signature};
  }
  static jobject Ref(Value* v) { return reinterpret_cast<jobject>(v); }
  // The value behind a reference of the test's or the env's (live or not).
  static Value& V(const void* o);
  static std::vector<jint>& Ints(jintArray a) { return V(a).ints; }
  static std::vector<jbyte>& BytesOf(jbyteArray a) { return V(a).bytes; }
  static std::u16string Units(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
  // A String or char[] up to its first NUL.
  static std::u16string Text(const void* v);

  // --- pending exceptions ---
  // "java.lang.IllegalArgumentException: message", or empty when none is pending.
  std::string Pending() const;
  jint PendingCode() const;  // a Win32Exception's code
  void Raise(const char* className, const std::string& message);

  // --- one native call: its frame, and the checks at its end ---
  void BeginCall(const std::string& method);
  // The result as the caller holds it (a local reference becomes the caller's).
  jobject EndCall(jobject result);
  void Fault(const std::string& what);

  struct Release {  // a copy given back: how, and what it held then
    std::string function;
    jint mode;
    std::string copy;
  };
  std::vector<std::string> faults;  // JNI misuse, as -Xcheck:jni reports it
  std::vector<Release> releases;
  std::vector<std::vector<jint>> added;
  std::vector<Write> writes;
  static inline std::string currentCase;  // named by the trap of a function not provided

  static constexpr uint32_t kValueTag = 0x4A56414C, kHandleTag = 0x4A48444C;
  static constexpr size_t kDefaultCapacity = 16;  // HotSpot's local capacity of a native frame

  // --- the class model (HotspotJniModel.cpp) ---
  static ClassModel* FindModel(const std::string& name);  // null when unknown
  static bool IsA(const ClassModel* cls, const ClassModel* of);
  ClassModel* ClassOf(Value* v);
  static const Method* FindMethod(const ClassModel* cls, const std::string& name, const std::string& signature);
  Value* NewString16(const std::u16string& s) { return NewText(s, Kind::kString); }
  Value* NewEnumeration(std::vector<Value*> elements);

 private:
  struct Handle {
    uint32_t tag = kHandleTag;
    Value* target = nullptr;
    bool live = true, global = false;
  };
  struct Frame {
    size_t capacity = kDefaultCapacity;
    std::vector<Handle*> locals;
    bool warned = false;
  };
  struct Borrowed {
    Value* array;
    Kind kind;
    size_t bytes;
  };
  friend struct Functions;

  static HotspotJni& Of(JNIEnv* e) { return *static_cast<HotspotJni*>(e->functions->reserved0); }
  // Checks on entry to a JNI function: an exception pending (unless the function is safe with one).
  void Enter(const char* function, bool exceptionSafe = false);
  Value* Resolve(jobject o, const char* function);
  jobject Local(Value* v);
  jobject Global(Value* v);
  template <typename T>
  T* Lend(Value* array, Kind kind, const std::vector<T>& from, jboolean* isCopy);
  template <typename T>
  void TakeBack(Value* array, Kind kind, std::vector<T>* into, void* buffer, jint mode, const char* function);
  static void InstallFunctions(JNINativeInterface_& table);

  JNINativeInterface_ table_;
  JNIEnv env_;
  std::deque<Value> values_;  // stable addresses
  std::deque<Handle> handles_;
  std::vector<Frame> frames_;
  std::map<void*, Borrowed> borrowed_;
  Value* thrown_ = nullptr;
  std::string call_;  // the native method running
};

}  // namespace qvtest
