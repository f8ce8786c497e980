#include "PlainProperties.h"

#include <optional>
#include <vector>

#include "JNIException.h"
#include "LocalRef.h"
#include "Utf16.h"

namespace quorvane {
namespace jni {

namespace {

// The object's monitor, held while its keys and values are taken: the
// Properties methods that change it synchronise on it too, so both arrays
// come from one state of the map, in the same order.
class Monitor {
 public:
  Monitor(JNIEnv* env, jobject object) : env(env), object(object) {
    if (env->MonitorEnter(object) != 0) throw JNIException();
  }
  ~Monitor() { env->MonitorExit(object); }
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

 private:
  JNIEnv* env;
  jobject object;
};

// A Java call that threw: the exception gives way to the slow path.
bool Threw(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

struct Methods {
  jclass properties, collection, arrays, string, strings;
  jfieldID defaults;
  jmethodID keySet, values, toArray, copyOf, join;
};

// Null (nothing pending) when the VM lacks any of them.
bool Find(JNIEnv* env, Methods& m) {
  const JavaUtilProperties* known = JavaUtilProperties::Get(env);
  if (known == nullptr) return false;
  m.properties = known->c;
  m.collection = env->FindClass("java/util/Collection");
  m.arrays = env->FindClass("java/util/Arrays");
  m.string = env->FindClass("java/lang/String");
  m.strings = env->FindClass("[Ljava/lang/String;");
  if (Threw(env) || !m.collection || !m.arrays || !m.string || !m.strings) return false;
  m.defaults = env->GetFieldID(m.properties, "defaults", "Ljava/util/Properties;");
  m.keySet = env->GetMethodID(m.properties, "keySet", "()Ljava/util/Set;");
  m.values = env->GetMethodID(m.properties, "values", "()Ljava/util/Collection;");
  m.toArray = env->GetMethodID(m.collection, "toArray", "()[Ljava/lang/Object;");
  m.copyOf = env->GetStaticMethodID(m.arrays, "copyOf", "([Ljava/lang/Object;ILjava/lang/Class;)[Ljava/lang/Object;");
  m.join = env->GetStaticMethodID(m.string, "join", "(Ljava/lang/CharSequence;[Ljava/lang/CharSequence;)Ljava/lang/String;");
  return !Threw(env) && m.defaults && m.keySet && m.values && m.toArray && m.copyOf && m.join;
}

// Found once per process: the classes are the platform's own and stay
// loaded, so their global references are never given back
// (java.util.Properties' is JavaUtilProperties').
const Methods* Cached(JNIEnv* env) {
  static const std::optional<Methods> methods = [env]() -> std::optional<Methods> {
    Methods m;
    if (!Find(env, m)) return std::nullopt;
    for (jclass* c : {&m.collection, &m.arrays, &m.string, &m.strings}) {
      *c = static_cast<jclass>(env->NewGlobalRef(*c));
      if (*c == nullptr) return std::nullopt;
    }
    return m;
  }();
  return methods ? &*methods : nullptr;
}

// The collection's elements joined by NULs, as wide text; false when an
// element is not a String.
bool TakeAll(JNIEnv* env, const Methods& m, jobject collection, jstring separator, std::wstring& out, jsize& count) {
  const LocalRef objects(env, env->CallObjectMethod(collection, m.toArray));
  if (Threw(env) || !objects.get()) return false;
  count = env->GetArrayLength(static_cast<jarray>(objects.get()));
  out.clear();
  if (count == 0) return true;
  // ArrayStoreException for anything but a String.
  const LocalRef strings(env, env->CallStaticObjectMethod(m.arrays, m.copyOf, objects.get(), count, m.strings));
  if (Threw(env) || !strings.get()) return false;
  const LocalRef joined(env, env->CallStaticObjectMethod(m.string, m.join, separator, strings.get()));
  if (Threw(env) || !joined.get()) return false;
  const jsize length = env->GetStringLength(static_cast<jstring>(joined.get()));
  std::vector<jchar> units(static_cast<size_t>(length));
  if (length > 0) env->GetStringRegion(static_cast<jstring>(joined.get()), 0, length, units.data());
  if (Threw(env)) return false;
  out = WideFromUtf16(reinterpret_cast<const char16_t*>(units.data()), units.size());
  return true;
}

}  // namespace

bool ReadPlainProperties(JNIEnv* env, jobject properties, JavaEntries& out) {
  const LocalFrame frame(env);
  const Methods* found = Cached(env);
  if (found == nullptr) return false;
  const Methods& m = *found;
  // A subclass may answer getProperty differently; defaults add names.
  const LocalRef own(env, env->GetObjectClass(properties));
  if (!env->IsSameObject(own.get(), m.properties)) return false;
  const Monitor monitor(env, properties);
  const LocalRef defaults(env, env->GetObjectField(properties, m.defaults));
  if (defaults.get() != nullptr) return false;
  const jchar nul = 0;
  const LocalRef nulString(env, env->NewString(&nul, 1));
  if (Threw(env) || !nulString.get()) return false;
  const LocalRef keySet(env, env->CallObjectMethod(properties, m.keySet));
  if (Threw(env) || !keySet.get()) return false;
  const LocalRef values(env, env->CallObjectMethod(properties, m.values));
  if (Threw(env) || !values.get()) return false;
  std::wstring keys, texts;
  jsize keyCount = 0, textCount = 0;
  if (!TakeAll(env, m, keySet.get(), static_cast<jstring>(nulString.get()), keys, keyCount) ||
      !TakeAll(env, m, values.get(), static_cast<jstring>(nulString.get()), texts, textCount) ||
      keyCount != textCount)
    return false;
  return out.Adopt(std::move(keys), std::move(texts), static_cast<size_t>(keyCount));
}

}  // namespace jni
}  // namespace quorvane
