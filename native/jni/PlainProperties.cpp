#include "PlainProperties.h"

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
  m.properties = env->FindClass("java/util/Properties");
  m.collection = env->FindClass("java/util/Collection");
  m.arrays = env->FindClass("java/util/Arrays");
  m.string = env->FindClass("java/lang/String");
  m.strings = env->FindClass("[Ljava/lang/String;");
  if (Threw(env) || !m.properties || !m.collection || !m.arrays || !m.string || !m.strings) return false;
  m.defaults = env->GetFieldID(m.properties, "defaults", "Ljava/util/Properties;");
  m.keySet = env->GetMethodID(m.properties, "keySet", "()Ljava/util/Set;");
  m.values = env->GetMethodID(m.properties, "values", "()Ljava/util/Collection;");
  m.toArray = env->GetMethodID(m.collection, "toArray", "()[Ljava/lang/Object;");
  m.copyOf = env->GetStaticMethodID(m.arrays, "copyOf", "([Ljava/lang/Object;ILjava/lang/Class;)[Ljava/lang/Object;");
  m.join = env->GetStaticMethodID(m.string, "join", "(Ljava/lang/CharSequence;[Ljava/lang/CharSequence;)Ljava/lang/String;");
  return !Threw(env) && m.defaults && m.keySet && m.values && m.toArray && m.copyOf && m.join;
}

// The collection's elements joined by NULs, and split again into `out`;
// false when an element is not a String or holds a NUL itself.
bool TakeAll(JNIEnv* env, const Methods& m, jobject collection, jstring separator, std::vector<std::wstring>& out) {
  const LocalRef objects(env, env->CallObjectMethod(collection, m.toArray));
  if (Threw(env) || !objects.get()) return false;
  const jsize count = env->GetArrayLength(static_cast<jarray>(objects.get()));
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
  out.reserve(static_cast<size_t>(count));
  size_t start = 0;
  for (size_t i = 0; i <= units.size(); ++i) {
    if (i < units.size() && units[i] != 0) continue;
    out.push_back(WideFromUtf16(reinterpret_cast<const char16_t*>(units.data()) + start, i - start));
    start = i + 1;
  }
  // Fewer NULs than separators would leave: each piece is one whole element.
  return out.size() == static_cast<size_t>(count);
}

}  // namespace

bool ReadPlainProperties(JNIEnv* env, jobject properties, JavaEntries& out) {
  if (env->PushLocalFrame(32) != 0) throw JNIException();
  struct Frame {
    JNIEnv* env;
    ~Frame() { env->PopLocalFrame(nullptr); }
  } frame{env};
  Methods m;
  if (!Find(env, m)) return false;
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
  std::vector<std::wstring> keys, texts;
  if (!TakeAll(env, m, keySet.get(), static_cast<jstring>(nulString.get()), keys) ||
      !TakeAll(env, m, values.get(), static_cast<jstring>(nulString.get()), texts) || keys.size() != texts.size())
    return false;
  out.keys.reset(new std::vector<std::wstring>(std::move(keys)));
  out.values.clear();
  out.values.reserve(texts.size());
  for (std::wstring& text : texts) out.values.push_back(TextHandle(new std::wstring(std::move(text))));
  return true;
}

}  // namespace jni
}  // namespace quorvane
