// HotspotJni's class model: the platform classes the library reaches (exceptions, String, Arrays, the
// java.util.Properties family, an output stream, a set, NetworkAddress), with the behaviour the library relies on,
// and the values a test makes.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "HotspotJni.h"

namespace qvtest {

namespace {

using J = HotspotJni;
using Value = J::Value;
using Slot = J::Slot;
using Kind = J::Kind;

Slot Int(jint i) {
  Slot s{};
  s.i = i;
  return s;
}
Slot Ref(Value* v) {
  Slot s{};
  s.l = v;
  return s;
}
std::u16string Units(const Value* v) { return std::u16string(v->units.begin(), v->units.end()); }

// The process's classes: the library keeps global references and ids of some across envs.
struct Registry {
  std::deque<J::ClassModel> classes;
  std::deque<Value> classObjects;
  std::map<std::string, J::ClassModel*> byName;

  J::ClassModel* Define(const std::string& name, const char* super, std::vector<const char*> interfaces = {},
                        bool isAbstract = false) {
    J::ClassModel& c = classes.emplace_back();
    c.name = name;
    c.super = super ? byName.at(super) : nullptr;
    for (const char* i : interfaces) c.interfaces.push_back(byName.at(i));
    c.isAbstract = isAbstract;
    Value& object = classObjects.emplace_back();
    object.kind = Kind::kClass;
    object.cls = &c;
    c.object = &object;
    byName[name] = &c;
    return &c;
  }
  static void Def(J::ClassModel* c, const char* name, const char* signature, J::Body body, bool isStatic = false) {
    c->methods.push_back(J::Method{name, signature, isStatic, c, std::move(body)});
  }

  Registry() {
    J::ClassModel* object = Define("java/lang/Object", nullptr);
    Def(object, "<init>", "()V", nullptr);
    Define("java/lang/Class", "java/lang/Object");
    Define("java/lang/CharSequence", nullptr, {}, true);
    Define("java/lang/String", "java/lang/Object", {"java/lang/CharSequence"});
    Def(byName["java/lang/String"], "join", "(Ljava/lang/CharSequence;[Ljava/lang/CharSequence;)Ljava/lang/String;",
        [](J& j, Value*, const std::vector<Slot>& a) {
          if (a[0].l == nullptr || a[1].l == nullptr)
            return j.Raise("java/lang/NullPointerException", ""), Ref(nullptr);
          std::u16string joined;
          for (size_t i = 0; i < a[1].l->elements.size(); ++i) {
            if (i) joined += Units(a[0].l);
            joined += a[1].l->elements[i] ? Units(a[1].l->elements[i]) : u"null";
          }
          return Ref(j.NewString16(joined));
        }, true);
    DefineThrowables();
    DefineCollections();
    J::ClassModel* stream = Define("java/io/OutputStream", "java/lang/Object", {}, true);
    Def(stream, "write", "([BII)V", nullptr);
    J::ClassModel* bytes = Define("java/io/ByteArrayOutputStream", "java/io/OutputStream");
    Def(bytes, "<init>", "()V", nullptr);
    Def(bytes, "write", "([BII)V", [](J& j, Value*, const std::vector<Slot>& a) {
      const jint offset = a[1].i, count = a[2].i;
      if (a[0].l == nullptr) return j.Raise("java/lang/NullPointerException", ""), Int(0);
      if (offset < 0 || count < 0 || size_t(offset) + size_t(count) > a[0].l->bytes.size())
        return j.Raise("java/lang/IndexOutOfBoundsException", ""), Int(0);
      const auto* from = a[0].l->bytes.data() + offset;
      j.writes.push_back({reinterpret_cast<jbyteArray>(a[0].l), offset, std::string(from, from + count)});
      return Int(0);
    });
    J::ClassModel* address = Define("com/quorvane/infrastructure/network/NetworkAddress", "java/lang/Object");
    Def(address, "<init>", "()V", nullptr);
    Def(address, "setAddress", "(IIIIIIII)V", [](J&, Value* self, const std::vector<Slot>& a) {
      self->ints.clear();
      for (const Slot& s : a) self->ints.push_back(s.i);
      return Int(0);
    });
  }

  void DefineThrowables() {
    const auto withMessage = [](J&, Value* self, const std::vector<Slot>& a) {
      J::Add(self, "detailMessage", "Ljava/lang/String;").object = a[0].l;
      return Int(0);
    };
    // Class and superclass, in java/lang unless their package is named.
    const char* const kinds[][2] = {
        {"Throwable", "Object"}, {"Exception", "Throwable"}, {"Error", "Throwable"}, {"RuntimeException", "Exception"},
        {"IllegalArgumentException", "RuntimeException"}, {"IllegalMonitorStateException", "RuntimeException"},
        {"NullPointerException", "RuntimeException"}, {"ClassCastException", "RuntimeException"},
        {"ArrayStoreException", "RuntimeException"}, {"NegativeArraySizeException", "RuntimeException"},
        {"IndexOutOfBoundsException", "RuntimeException"},
        {"ArrayIndexOutOfBoundsException", "IndexOutOfBoundsException"},
        {"StringIndexOutOfBoundsException", "IndexOutOfBoundsException"},
        {"java/util/NoSuchElementException", "RuntimeException"}, {"ReflectiveOperationException", "Exception"},
        {"ClassNotFoundException", "ReflectiveOperationException"}, {"java/io/IOException", "Exception"},
        {"VirtualMachineError", "Error"}, {"OutOfMemoryError", "VirtualMachineError"}, {"LinkageError", "Error"},
        {"NoClassDefFoundError", "LinkageError"}, {"IncompatibleClassChangeError", "LinkageError"},
        {"NoSuchFieldError", "IncompatibleClassChangeError"}, {"NoSuchMethodError", "IncompatibleClassChangeError"}};
    const auto lang = [](const std::string& name) {
      return name.find('/') == std::string::npos ? "java/lang/" + name : name;
    };
    for (const auto& [name, super] : kinds)
      Def(Define(lang(name), lang(super).c_str()), "<init>", "(Ljava/lang/String;)V", withMessage);
    // The library's own: a message and the system's error code, no (String) constructor.
    J::ClassModel* win32 = Define("com/quorvane/infrastructure/os/windows/Win32Exception", "java/lang/Exception");
    Def(win32, "<init>", "(Ljava/lang/String;I)V", [](J&, Value* self, const std::vector<Slot>& a) {
      J::Add(self, "detailMessage", "Ljava/lang/String;").object = a[0].l;
      J::Add(self, "code", "I").i = a[1].i;
      return Int(0);
    });
  }

  void DefineCollections() {
    Define("java/lang/Iterable", nullptr, {}, true);
    J::ClassModel* collection = Define("java/util/Collection", nullptr, {"java/lang/Iterable"}, true);
    Def(collection, "toArray", "()[Ljava/lang/Object;", nullptr);
    Def(collection, "add", "(Ljava/lang/Object;)Z", nullptr);
    Def(collection, "size", "()I", nullptr);
    Define("java/util/Set", nullptr, {"java/util/Collection"}, true);
    J::ClassModel* enumeration = Define("java/util/Enumeration", nullptr, {}, true);
    Def(enumeration, "hasMoreElements", "()Z", nullptr);
    Def(enumeration, "nextElement", "()Ljava/lang/Object;", nullptr);
    J::ClassModel* enumerator = Define("java/util/Hashtable$Enumerator", "java/lang/Object", {"java/util/Enumeration"});
    Def(enumerator, "hasMoreElements", "()Z",
        [](J&, Value* self, const std::vector<Slot>&) { return Int(self->cursor < self->elements.size()); });
    Def(enumerator, "nextElement", "()Ljava/lang/Object;", [](J& j, Value* self, const std::vector<Slot>&) {
      if (self->cursor >= self->elements.size()) return j.Raise("java/util/NoSuchElementException", ""), Ref(nullptr);
      return Ref(self->elements[self->cursor++]);
    });
    // A snapshot of a map's keys or values, or a set of the test's: elements in order.
    for (const char* name : {"java/util/HashSet", "java/util/Collections$SynchronizedSet",
                             "java/util/Collections$SynchronizedCollection"}) {
      const bool set = std::string(name) != "java/util/Collections$SynchronizedCollection";
      J::ClassModel* view = Define(name, "java/lang/Object", {set ? "java/util/Set" : "java/util/Collection"});
      Def(view, "<init>", "()V", nullptr);
      Def(view, "size", "()I",
          [](J&, Value* self, const std::vector<Slot>&) { return Int(jint(self->elements.size())); });
      Def(view, "toArray", "()[Ljava/lang/Object;", [](J& j, Value* self, const std::vector<Slot>&) {
        Value* array = j.NewArray(Kind::kObjectArray);
        array->elements = self->elements;
        return Ref(array);
      });
      Def(view, "add", "(Ljava/lang/Object;)Z", [](J& j, Value* self, const std::vector<Slot>& a) {
        if (self->cls->name != "java/util/HashSet")
          return j.Raise("java/lang/UnsupportedOperationException", ""), Int(0);
        self->elements.push_back(a[0].l);
        if (a[0].l && a[0].l->cls && a[0].l->cls->name == "com/quorvane/infrastructure/network/NetworkAddress")
          j.added.push_back(a[0].l->ints);
        return Int(1);
      });
    }
    J::ClassModel* arrays = Define("java/util/Arrays", "java/lang/Object");
    Def(arrays, "copyOf", "([Ljava/lang/Object;ILjava/lang/Class;)[Ljava/lang/Object;",
        [](J& j, Value*, const std::vector<Slot>& a) {
          if (a[0].l == nullptr || a[2].l == nullptr)
            return j.Raise("java/lang/NullPointerException", ""), Ref(nullptr);
          if (a[1].i < 0) return j.Raise("java/lang/NegativeArraySizeException", ""), Ref(nullptr);
          J::ClassModel* type = a[2].l->cls;
          if (type->component == nullptr) return j.Raise("java/lang/ClassCastException", type->name), Ref(nullptr);
          Value* copy = j.NewArray(Kind::kObjectArray);
          copy->cls = type;
          copy->elements.assign(size_t(a[1].i), nullptr);
          for (size_t i = 0; i < copy->elements.size() && i < a[0].l->elements.size(); ++i) {
            Value* e = a[0].l->elements[i];
            if (e && !J::IsA(j.ClassOf(e), type->component))
              return j.Raise("java/lang/ArrayStoreException", j.ClassOf(e)->name), Ref(nullptr);
            copy->elements[i] = e;
          }
          return Ref(copy);
        }, true);
    Define("java/lang/UnsupportedOperationException", "java/lang/RuntimeException");
    DefineProperties();
  }

  void DefineProperties() {
    Define("java/util/Map", nullptr, {}, true);
    Define("java/util/Dictionary", "java/lang/Object", {}, true);
    J::ClassModel* table = Define("java/util/Hashtable", "java/util/Dictionary", {"java/util/Map"});
    J::ClassModel* properties = Define("java/util/Properties", "java/util/Hashtable");
    properties->instanceFields["defaults"] = "Ljava/util/Properties;";
    Def(properties, "<init>", "()V", nullptr);
    const auto view = [this](J& j, const char* name, std::vector<Value*> elements) {
      Value* v = j.NewObject(byName.at(name));
      v->elements = std::move(elements);
      return v;
    };
    Def(table, "size", "()I", [](J&, Value* self, const std::vector<Slot>&) { return Int(jint(self->map.size())); });
    Def(table, "keySet", "()Ljava/util/Set;", [view](J& j, Value* self, const std::vector<Slot>&) {
      std::vector<Value*> keys;
      for (auto& [text, entry] : self->map) keys.push_back(entry.first);
      return Ref(view(j, "java/util/Collections$SynchronizedSet", keys));
    });
    Def(table, "values", "()Ljava/util/Collection;", [view](J& j, Value* self, const std::vector<Slot>&) {
      std::vector<Value*> values;
      for (auto& [text, entry] : self->map) values.push_back(entry.second);
      return Ref(view(j, "java/util/Collections$SynchronizedCollection", values));
    });
    Def(table, "remove", "(Ljava/lang/Object;)Ljava/lang/Object;", [](J& j, Value* self, const std::vector<Slot>& a) {
      if (a[0].l == nullptr) return j.Raise("java/lang/NullPointerException", ""), Ref(nullptr);
      const auto it = a[0].l->kind == Kind::kString ? self->map.find(Units(a[0].l)) : self->map.end();
      if (it == self->map.end()) return Ref(nullptr);
      Value* previous = it->second.second;
      self->map.erase(it);
      return Ref(previous);
    });
    Def(properties, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;",
        [](J& j, Value* self, const std::vector<Slot>& a) {
          if (a[0].l == nullptr) return j.Raise("java/lang/NullPointerException", ""), Ref(nullptr);
          const auto it = self->map.find(Units(a[0].l));
          Value* value = it == self->map.end() ? nullptr : it->second.second;
          return Ref(value && value->kind == Kind::kString ? value : nullptr);
        });
    Def(properties, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Object;",
        [](J& j, Value* self, const std::vector<Slot>& a) {
          if (a[0].l == nullptr || a[1].l == nullptr)
            return j.Raise("java/lang/NullPointerException", ""), Ref(nullptr);
          auto& entry = self->map[Units(a[0].l)];
          Value* previous = entry.second;
          entry = {a[0].l, a[1].l};
          return Ref(previous);
        });
    // Every key, which must be a String (else ClassCastException, as Hashtable's enumeration casts it).
    Def(properties, "propertyNames", "()Ljava/util/Enumeration;", [](J& j, Value* self, const std::vector<Slot>&) {
      std::vector<Value*> keys;
      for (auto& [text, entry] : self->map) {
        if (entry.first->kind != Kind::kString)
          return j.Raise("java/lang/ClassCastException", j.ClassOf(entry.first)->name), Ref(nullptr);
        keys.push_back(entry.first);
      }
      return Ref(j.NewEnumeration(keys));
    });
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

HotspotJni::ClassModel* HotspotJni::FindModel(const std::string& name) {
  Registry& r = TheRegistry();
  const auto it = r.byName.find(name);
  if (it != r.byName.end()) return it->second;
  if (name.size() < 2 || name[0] != '[') return nullptr;
  // An array class, made on first use: "[B", "[Ljava/lang/String;", ...
  ClassModel* component = nullptr;
  if (name[1] == 'L' && name.back() == ';') component = FindModel(name.substr(2, name.size() - 3));
  else if (name[1] == '[') component = FindModel(name.substr(1));
  else if (name.size() == 2 && std::string("ZBCSIJFD").find(name[1]) != std::string::npos) component = nullptr;
  else return nullptr;
  if ((name[1] == 'L' || name[1] == '[') && component == nullptr) return nullptr;
  ClassModel* array = r.Define(name, "java/lang/Object");
  array->component = component;
  return array;
}

bool HotspotJni::IsA(const ClassModel* cls, const ClassModel* of) {
  if (cls == nullptr || of == nullptr) return false;
  if (cls == of || of->name == "java/lang/Object") return true;
  if (cls->component && of->component) return IsA(cls->component, of->component);
  for (const ClassModel* i : cls->interfaces)
    if (IsA(i, of)) return true;
  return IsA(cls->super, of);
}

HotspotJni::ClassModel* HotspotJni::ClassOf(Value* v) {
  if (v->kind == Kind::kClass) return FindModel("java/lang/Class");
  if (v->cls != nullptr) return v->cls;
  switch (v->kind) {
    case Kind::kString: return FindModel("java/lang/String");
    case Kind::kCharArray: return FindModel("[C");
    case Kind::kByteArray: return FindModel("[B");
    case Kind::kIntArray: return FindModel("[I");
    case Kind::kObjectArray: return FindModel("[Ljava/lang/Object;");
    default: break;
  }
  if (!v->ownClass) {  // a record: a class of its own, whose fields are the record's
    v->ownClass = std::make_unique<ClassModel>();
    v->ownClass->name = "Record";
    v->ownClass->super = FindModel("java/lang/Object");
    v->ownClass->record = v;
    Value* object = &values_.emplace_back();
    object->kind = Kind::kClass;
    object->cls = v->ownClass.get();
    v->ownClass->object = object;
  }
  return v->ownClass.get();
}

const HotspotJni::Method* HotspotJni::FindMethod(const ClassModel* cls, const std::string& name,
                                                 const std::string& signature) {
  for (const ClassModel* at = cls; at != nullptr; at = name == "<init>" ? nullptr : at->super) {
    for (const Method& m : at->methods)
      if (m.name == name && m.signature == signature && (m.body || at->isAbstract || name == "<init>")) return &m;
    if (name == "<init>") break;
    for (const ClassModel* i : at->interfaces)
      if (const Method* m = FindMethod(i, name, signature)) return m;
  }
  return nullptr;
}

HotspotJni::Value* HotspotJni::NewObject(ClassModel* cls) {
  Value* v = &values_.emplace_back();
  v->cls = cls;
  for (ClassModel* at = cls; at != nullptr; at = at->super)
    for (const auto& [name, signature] : at->instanceFields) v->fields[name] = Field{signature};
  return v;
}

HotspotJni::Value* HotspotJni::NewText(const std::u16string& text, Kind kind) {
  Value* v = NewObject();
  v->kind = kind;
  v->units.reserve(text.size() + 1);
  v->units.assign(text.begin(), text.end());
  return v;
}

jstring HotspotJni::Str(const std::wstring& s) { return reinterpret_cast<jstring>(NewString16(Units(s))); }

jbyteArray HotspotJni::Bytes(const std::string& b) {
  Value* v = NewArray(Kind::kByteArray);
  v->bytes.assign(b.begin(), b.end());
  return reinterpret_cast<jbyteArray>(v);
}

jintArray HotspotJni::NewInts(std::vector<jint> ints) {
  Value* v = NewArray(Kind::kIntArray);
  v->ints = std::move(ints);
  return reinterpret_cast<jintArray>(v);
}

HotspotJni::Value* HotspotJni::NewArray(Kind kind) {
  Value* v = NewObject();
  v->kind = kind;
  v->bytes.reserve(1), v->ints.reserve(1), v->units.reserve(1);  // never a null data pointer
  return v;
}

jobject HotspotJni::NewProperties(const std::vector<std::pair<std::u16string, std::u16string>>& entries) {
  Value* p = NewObject(FindModel("java/util/Properties"));
  for (const auto& [key, value] : entries) p->map[key] = {NewString16(key), NewString16(value)};
  return Ref(p);
}

jobject HotspotJni::NewOutputStream() { return Ref(NewObject(FindModel("java/io/ByteArrayOutputStream"))); }

jobject HotspotJni::NewHashSet() { return Ref(NewObject(FindModel("java/util/HashSet"))); }

HotspotJni::Value* HotspotJni::NewEnumeration(std::vector<Value*> elements) {
  Value* e = NewObject(FindModel("java/util/Hashtable$Enumerator"));
  e->elements = std::move(elements);
  return e;
}

HotspotJni::ClassModel* HotspotJni::NewClass(const std::string& name,
                                             const std::map<std::string, std::string>& instanceFields,
                                             const std::map<std::string, std::string>& staticFields) {
  ClassModel* c = TheRegistry().Define(name + "#" + std::to_string(TheRegistry().classes.size()), "java/lang/Object");
  c->instanceFields = instanceFields;
  for (const auto& [field, signature] : staticFields) c->statics[field] = Field{signature};
  Registry::Def(c, "<init>", "()V", nullptr);
  return c;
}

HotspotJni::Value* HotspotJni::NewRecord(const std::string& fields) {
  Value* record = NewObject();
  for (size_t at = 0; at < fields.size();) {
    const size_t end = std::min(fields.find(',', at), fields.size());
    char signature[4] = {}, name[32] = {};
    unsigned length = 0;
    std::sscanf(fields.substr(at, end - at).c_str(), "%3s %31s %u", signature, name, &length);
    const std::string sig = signature == std::string("T") ? "Ljava/lang/String;" : signature;
    Field& f = Add(record, name, sig.c_str());
    if (sig == "[C") f.object = NewText(std::u16string(length, u'\0'));
    if (sig == "[B") f.object = &V(Bytes(std::string(length, '\0')));
    at = end + 1;
  }
  return record;
}

std::map<std::u16string, std::u16string> HotspotJni::Entries(const void* properties) {
  std::map<std::u16string, std::u16string> entries;
  for (const auto& [key, entry] : V(properties).map)
    if (entry.second && entry.second->kind == Kind::kString)
      entries[key] = std::u16string(entry.second->units.begin(), entry.second->units.end());
  return entries;
}

}  // namespace qvtest
