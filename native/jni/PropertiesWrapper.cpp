#include "PropertiesWrapper.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <vector>

#include "ExceptionReport.h"
#include "JNIException.h"
#include "JavaChars.h"
#include "LocalRef.h"
#include "PlainProperties.h"
#include "Properties.h"

namespace quorvane {
namespace jni {

namespace {

// Capacity reserved up front for a name list; a larger object just grows it.
const jint kMaxReservedNames = 4096;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// One character per byte, for bytes that are not modified UTF-8.
jstring NewLatin1String(JNIEnv* env, const char* bytes) {
  const size_t length = std::strlen(bytes);
  std::vector<jchar> units(length);
  for (size_t i = 0; i < length; ++i) units[i] = static_cast<unsigned char>(bytes[i]);
  jstring result = env->NewString(units.data(), static_cast<jsize>(length));
  if (result == nullptr) throw JNIException();
  return result;
}

}  // namespace

bool IsModifiedUtf8(const char* bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  while (*p != 0) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
    } else if ((lead & 0xE0) == 0xC0) {
      if (!IsContinuation(p[1])) return false;
      const unsigned value = ((lead & 0x1Fu) << 6) | (p[1] & 0x3Fu);
      if (value < 0x80 && value != 0) return false;  // overlong, except the encoded NUL
      p += 2;
    } else if ((lead & 0xF0) == 0xE0) {
      if (!IsContinuation(p[1]) || !IsContinuation(p[2])) return false;
      const unsigned value = ((lead & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      if (value < 0x800) return false;
      p += 3;
    } else {
      return false;  // stray continuation byte, or a four-byte form
    }
  }
  return true;
}

jstring NewStringFromUnconvertedBytes(JNIEnv* env, const char* bytes) {
  if (!IsModifiedUtf8(bytes)) return NewLatin1String(env, bytes);
  jstring result = env->NewStringUTF(bytes);
  if (result == nullptr) throw JNIException();
  return result;
}

// ---- EnumerationWrapper --------------------------------------------------

EnumerationWrapper::EnumerationWrapper(JNIEnv* env, jobject enumeration) : env(env), enumeration(enumeration) {
  if (enumeration == nullptr) throw IllegalArgumentException(env, "'enumeration' can't be null");
  enumerationClass = env->GetObjectClass(enumeration);
  if (enumerationClass == nullptr) throw JNIException();
  hasMoreElementsMethod = env->GetMethodID(enumerationClass, "hasMoreElements", "()Z");
  if (hasMoreElementsMethod != nullptr)
    nextElementMethod = env->GetMethodID(enumerationClass, "nextElement", "()Ljava/lang/Object;");
  if (hasMoreElementsMethod == nullptr || nextElementMethod == nullptr) {
    env->ExceptionClear();  // the lookup's NoSuchMethodError gives way to ours
    env->DeleteLocalRef(enumerationClass);
    throw IllegalArgumentException(env, "'enumeration' doesn't seem to be the right type");
  }
}

EnumerationWrapper::~EnumerationWrapper() { env->DeleteLocalRef(enumerationClass); }

bool EnumerationWrapper::hasMoreElements() {
  const jboolean more = env->CallBooleanMethod(enumeration, hasMoreElementsMethod);
  if (env->ExceptionCheck()) throw JNIException();
  return more == JNI_TRUE;
}

jobject EnumerationWrapper::nextElement() {
  jobject element = env->CallObjectMethod(enumeration, nextElementMethod);
  if (env->ExceptionCheck()) throw JNIException();
  return element;
}

// ---- PropertiesWrapper ---------------------------------------------------

namespace {

// The class's methods; false, with NoSuchMethodError pending, when it lacks
// one of them (propertyNames first: without it the object is no Properties).
bool FindMethods(JNIEnv* env, jclass c, PropertiesWrapper::Methods& m) {
  m.propertyNames = env->GetMethodID(c, "propertyNames", "()Ljava/util/Enumeration;");
  if (m.propertyNames != nullptr)
    m.getProperty = env->GetMethodID(c, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  if (m.getProperty != nullptr)
    m.setProperty = env->GetMethodID(c, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Object;");
  if (m.setProperty != nullptr) m.size = env->GetMethodID(c, "size", "()I");
  if (m.size != nullptr) m.remove = env->GetMethodID(c, "remove", "(Ljava/lang/Object;)Ljava/lang/Object;");
  return m.remove != nullptr;
}

}  // namespace

const JavaUtilProperties* JavaUtilProperties::Get(JNIEnv* env) {
  static const std::optional<JavaUtilProperties> known = [env]() -> std::optional<JavaUtilProperties> {
    JavaUtilProperties k{};
    const jclass local = env->FindClass("java/util/Properties");
    if (local == nullptr) {
      env->ExceptionClear();
      return std::nullopt;
    }
    const bool found = FindMethods(env, local, k.m);
    if (!found) env->ExceptionClear();
    k.c = found ? static_cast<jclass>(env->NewGlobalRef(local)) : nullptr;
    env->DeleteLocalRef(local);
    if (k.c == nullptr) return std::nullopt;
    return k;
  }();
  return known ? &*known : nullptr;
}

PropertiesWrapper::PropertiesWrapper(JNIEnv* env, jobject properties) : env(env), properties(properties) {
  if (properties == nullptr) throw IllegalArgumentException(env, "'properties' can't be null");
  propertiesClass = env->GetObjectClass(properties);
  CHECK(runtime_error, propertiesClass != NULL);
  // The object is nearly always a java.util.Properties itself, whose
  // methods are known; a subclass is asked each time.
  const JavaUtilProperties* known = JavaUtilProperties::Get(env);
  if (known != nullptr && env->IsSameObject(propertiesClass, known->c)) {
    m = known->m;
    return;
  }
  if (!FindMethods(env, propertiesClass, m)) {
    env->DeleteLocalRef(propertiesClass);
    if (m.propertyNames != nullptr) throw JNIException();
    env->ExceptionClear();
    throw IllegalArgumentException(env, "'properties' doesn't seem to be the right type");
  }
}

PropertiesWrapper::~PropertiesWrapper() { env->DeleteLocalRef(propertiesClass); }

void PropertiesWrapper::ThrowIfJavaThrew() const {
  if (env->ExceptionCheck()) throw JNIException();
}

jstring PropertiesWrapper::GetRaw(const WCHAR* name) const {
  const LocalRef javaName(env, NewJavaString(env, name, std::wcslen(name)));
  jstring value = static_cast<jstring>(env->CallObjectMethod(properties, m.getProperty, javaName.get()));
  ThrowIfJavaThrew();
  return value;
}

TextHandle PropertiesWrapper::GetProperty(const std::wstring& name) const {
  const LocalRef value(env, GetRaw(name.c_str()));
  if (value.get() == nullptr) return TextHandle();
  const JavaChars chars(env, static_cast<jstring>(value.get()));
  return TextHandle(new std::wstring(chars.Text()));
}

void PropertiesWrapper::SetProperty(const std::wstring& name, const std::wstring& value) {
  // As C strings: each ends at its first NUL.
  const LocalRef javaName(env, NewJavaString(env, name.c_str(), std::wcslen(name.c_str())));
  const LocalRef javaValue(env, NewJavaString(env, value.c_str(), std::wcslen(value.c_str())));
  const LocalRef previous(env, env->CallObjectMethod(properties, m.setProperty, javaName.get(), javaValue.get()));
  ThrowIfJavaThrew();
}

boost::posix_time::ptime PropertiesWrapper::GetDateProperty(const std::wstring&) const { RAISE("Not supported"); }

void PropertiesWrapper::SetDateProperty(const std::wstring&, const boost::posix_time::ptime&) {
  RAISE("Not supported");
}

void PropertiesWrapper::RemoveProperty(const std::wstring& name) {
  const LocalRef javaName(env, NewJavaString(env, name));
  const LocalRef previous(env, env->CallObjectMethod(properties, m.remove, javaName.get()));
  ThrowIfJavaThrew();
}

bool PropertiesWrapper::HasProperty(const std::wstring& name) const {
  const LocalRef value(env, GetRaw(name.c_str()));
  return value.get() != nullptr;
}

jint PropertiesWrapper::Size() const {
  const jint count = env->CallIntMethod(properties, m.size);
  ThrowIfJavaThrew();
  return count;
}

jobject PropertiesWrapper::PropertyNames() const {
  jobject enumeration = env->CallObjectMethod(properties, m.propertyNames);
  ThrowIfJavaThrew();
  return enumeration;
}

void JavaEntries::Add(std::wstring_view key, const std::wstring_view* value) {
  Entry entry{{keys.size(), key.size()}, {}, value != nullptr};
  keys.append(key).push_back(L'\0');
  if (value) {
    entry.value = {values.size(), value->size()};
    values.append(*value).push_back(L'\0');
  }
  entries.push_back(entry);
}

bool JavaEntries::Split(const std::wstring& joined, size_t count, std::vector<Text>& out) {
  out.clear();
  out.reserve(count);
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(joined.find(L'\0', start), joined.size());
    out.push_back({start, end - start});
    if (end == joined.size()) break;
    start = end + 1;
  }
  return out.size() == count;
}

bool JavaEntries::Adopt(std::wstring&& joinedKeys, std::wstring&& joinedValues, size_t count) {
  std::vector<Text> keyTexts, valueTexts;
  if (count > 0 && (!Split(joinedKeys, count, keyTexts) || !Split(joinedValues, count, valueTexts))) return false;
  entries.clear();
  keys = std::move(joinedKeys);
  values = std::move(joinedValues);
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) entries.push_back({keyTexts[i], valueTexts[i], true});
  return true;
}

JavaEntries PropertiesWrapper::ReadEntries() const {
  JavaEntries entries;
  if (ReadPlainProperties(env, properties, entries)) return entries;
  LocalFrame frame(env);
  std::vector<jobject> keyRefs;
  std::vector<std::wstring> keyTexts;
  {
    keyTexts.reserve(static_cast<size_t>(std::max<jint>(0, std::min(Size(), kMaxReservedNames))));
    const LocalRef enumeration(env, PropertyNames());
    EnumerationWrapper keys(env, enumeration.get());
    const LocalRef stringClass(env, env->FindClass("java/lang/String"));
    if (stringClass.get() == nullptr) throw JNIException();
    while (keys.hasMoreElements()) {
      frame.Hold(keyRefs.size() + 1);
      LocalRef key(env, keys.nextElement());
      if (key.get() == nullptr || !env->IsInstanceOf(key.get(), static_cast<jclass>(stringClass.get())))
        throw IllegalArgumentException(env, "'properties' has a name that is not a String");
      const JavaChars chars(env, static_cast<jstring>(key.get()));
      keyTexts.push_back(chars.Text());
      keyRefs.push_back(key.release());
    }
  }
  for (size_t i = 0; i < keyRefs.size(); ++i) {
    const LocalRef value(env, env->CallObjectMethod(properties, m.getProperty, keyRefs[i]));
    ThrowIfJavaThrew();
    if (value.get() == nullptr) {
      entries.Add(keyTexts[i], nullptr);
    } else {
      const JavaChars chars(env, static_cast<jstring>(value.get()));
      const std::wstring_view text(chars.Text());
      entries.Add(keyTexts[i], &text);
    }
    env->DeleteLocalRef(keyRefs[i]);
  }
  return entries;
}

NameList PropertiesWrapper::GetPropertyNames() const {
  NameList names(new std::vector<std::wstring>());
  names->reserve(static_cast<size_t>(std::max<jint>(0, std::min(Size(), kMaxReservedNames))));
  const LocalRef enumeration(env, PropertyNames());
  EnumerationWrapper keys(env, enumeration.get());
  const LocalRef stringClass(env, env->FindClass("java/lang/String"));
  if (stringClass.get() == nullptr) throw JNIException();
  while (keys.hasMoreElements()) {
    const LocalRef key(env, keys.nextElement());
    // A foreign object's names are checked: GetStringChars on anything but
    // a String would bring the VM down.
    if (key.get() == nullptr || !env->IsInstanceOf(key.get(), static_cast<jclass>(stringClass.get())))
      throw IllegalArgumentException(env, "'properties' has a name that is not a String");
    const JavaChars chars(env, static_cast<jstring>(key.get()));
    names->push_back(chars.Text());
  }
  return names;
}

void PropertiesWrapper::SetText(const WCHAR* name, const char* value) {
  const int length = static_cast<int>(std::strlen(value));
  WCHAR stack[128];  // most values fit
  std::vector<WCHAR> heap;
  WCHAR* wide = stack;
  if (static_cast<size_t>(length) + 1 > sizeof stack / sizeof stack[0]) {
    heap.resize(static_cast<size_t>(length) + 1);
    wide = heap.data();
  }
  const int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, value, -1, wide, length + 1);
  const LocalRef javaValue(env, converted > 0 ? NewJavaString(env, wide, static_cast<size_t>(converted - 1))
                                              : NewStringFromUnconvertedBytes(env, value));
  const LocalRef javaName(env, NewJavaString(env, name, std::wcslen(name)));
  const LocalRef previous(env, env->CallObjectMethod(properties, m.setProperty, javaName.get(), javaValue.get()));
  ThrowIfJavaThrew();
}

// ---- EntriesView ---------------------------------------------------------

TextHandle EntriesView::GetProperty(const std::wstring& name) const {
  for (size_t i = entries.Size(); i-- > 0;)
    if (entries.Key(i) == name)
      return entries.HasValue(i) ? TextHandle(new std::wstring(entries.Value(i))) : TextHandle();
  return TextHandle();
}

void EntriesView::SetProperty(const std::wstring&, const std::wstring&) { throw std::logic_error("read-only"); }

boost::posix_time::ptime EntriesView::GetDateProperty(const std::wstring& name) const {
  if (HasProperty(name)) RAISE("Wrong property type");
  return boost::posix_time::ptime(boost::posix_time::not_a_date_time);
}

void EntriesView::SetDateProperty(const std::wstring&, const boost::posix_time::ptime&) {
  throw std::logic_error("read-only");
}

void EntriesView::RemoveProperty(const std::wstring&) { throw std::logic_error("read-only"); }

bool EntriesView::HasProperty(const std::wstring& name) const { return static_cast<bool>(GetProperty(name)); }

NameList EntriesView::GetPropertyNames() const {
  Properties snapshot;  // built as CopyTo builds one, so names match it
  for (size_t i = 0; i < entries.Size(); ++i) {
    const std::wstring key(entries.Key(i));
    snapshot.RemoveProperty(key);
    if (entries.HasValue(i)) snapshot.SetProperty(key, std::wstring(entries.Value(i)));
  }
  return snapshot.GetPropertyNames();
}

}  // namespace jni
}  // namespace quorvane
