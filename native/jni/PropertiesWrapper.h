// A java.util.Properties object (or any object with its five methods) seen
// as a quorvane::IProperties of text values, and its companion over a
// java.util.Enumeration. Every call goes straight to the Java object.
#pragma once

#include <jni.h>

#include <string_view>
#include <vector>

#include "IProperties.h"
#include "Win32Api.h"

namespace quorvane {
namespace jni {

// Walks a java.util.Enumeration. Lives on the stack of one native call and
// its thread (the env and references belong to that call); the enumeration
// reference stays the caller's.
class EnumerationWrapper {
 public:
  // IllegalArgumentException for null or an object without the two methods.
  EnumerationWrapper(JNIEnv* env, jobject enumeration);
  ~EnumerationWrapper();
  EnumerationWrapper(const EnumerationWrapper&) = delete;
  EnumerationWrapper& operator=(const EnumerationWrapper&) = delete;

  // Both throw JNIException when the Java method threw (it stays pending).
  bool hasMoreElements();
  // A new local reference the caller owns (may be null).
  jobject nextElement();

 private:
  JNIEnv* const env;
  const jobject enumeration;
  jclass enumerationClass = nullptr;
  jmethodID hasMoreElementsMethod = nullptr;
  jmethodID nextElementMethod = nullptr;
};

// A Java object's keys and their text values, read once, in enumeration
// order; a value that is not a String (put() of another object) is absent.
// Each text is NUL-terminated in one of two buffers, so thousands of entries
// cost a few allocations.
class JavaEntries {
 public:
  size_t Size() const { return entries.size(); }
  std::wstring_view Key(size_t i) const { return View(keys, entries[i].key); }
  // NUL-terminated.
  const wchar_t* KeyChars(size_t i) const { return keys.c_str() + entries[i].key.at; }
  bool HasValue(size_t i) const { return entries[i].hasValue; }
  // Empty when absent.
  std::wstring_view Value(size_t i) const { return View(values, entries[i].value); }
  const wchar_t* ValueChars(size_t i) const { return values.c_str() + entries[i].value.at; }

  void Add(std::wstring_view key, const std::wstring_view* value);
  // count keys and count values, each text ended by a NUL but the last;
  // false, with nothing taken, when a text holds a NUL of its own.
  bool Adopt(std::wstring&& joinedKeys, std::wstring&& joinedValues, size_t count);

 private:
  struct Text {
    size_t at = 0, length = 0;
  };
  struct Entry {
    Text key, value;
    bool hasValue;
  };
  static std::wstring_view View(const std::wstring& buffer, Text text) {
    return std::wstring_view(buffer).substr(text.at, text.length);
  }
  // The texts of a joined buffer, in order; false unless there are count.
  static bool Split(const std::wstring& joined, size_t count, std::vector<Text>& out);

  std::wstring keys, values;
  std::vector<Entry> entries;
};

// Text-only view of the caller's Java properties object: the date-time
// operations always throw std::runtime_error "Not supported". Method ids
// come from the object's own class. Lives on the stack of one native call
// and its thread; the object reference stays the caller's. A Java method
// that throws ends the operation with JNIException, its exception pending.
class PropertiesWrapper : public IProperties {
 public:
  // The methods called on the object, as its class has them.
  struct Methods {
    jmethodID propertyNames = nullptr;
    jmethodID getProperty = nullptr;
    jmethodID setProperty = nullptr;
    jmethodID size = nullptr;
    jmethodID remove = nullptr;
  };

  // IllegalArgumentException for null or an object without propertyNames;
  // JNIException (NoSuchMethodError pending) when a later method is missing.
  PropertiesWrapper(JNIEnv* env, jobject properties);
  ~PropertiesWrapper();
  PropertiesWrapper(const PropertiesWrapper&) = delete;
  PropertiesWrapper& operator=(const PropertiesWrapper&) = delete;

  TextHandle GetProperty(const std::wstring& name) const override;
  // Name and value each up to their first NUL; no type check is needed.
  void SetProperty(const std::wstring& name, const std::wstring& value) override;
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override;
  void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) override;
  void RemoveProperty(const std::wstring& name) override;
  bool HasProperty(const std::wstring& name) const override;
  // In the enumeration's (hash table) order.
  NameList GetPropertyNames() const override;
  // GetPropertyNames, then GetProperty of each name, in that order, each
  // name passed to getProperty as the String the enumeration gave; a plain
  // java.util.Properties is read at once instead (ReadPlainProperties), in
  // its map's order.
  JavaEntries ReadEntries() const;

  // getProperty(name): a new local reference (the caller deletes it) or null.
  jstring GetRaw(const WCHAR* name) const;
  // Stores value, ANSI text of the system code page, under name.
  void SetText(const WCHAR* name, const char* value);
  jint Size() const;
  // propertyNames(): a new local reference the caller deletes.
  jobject PropertyNames() const;

 private:
  void ThrowIfJavaThrew() const;

  JNIEnv* const env;
  const jobject properties;
  jclass propertiesClass = nullptr;
  Methods m;
};

// java.util.Properties itself and its methods, found once per process (the
// class is the platform's and stays loaded, so its global reference is never
// given back): a method's lookup costs more than the call. Get is null, with
// nothing pending, when the VM lacks them.
struct JavaUtilProperties {
  jclass c;
  PropertiesWrapper::Methods m;
  static const JavaUtilProperties* Get(JNIEnv* env);
};

// What a snapshot (quorvane::Properties) of the Java object would answer,
// over entries read from it: the last value listed under a name, text only.
// Read-only: the setters and RemoveProperty throw std::logic_error.
class EntriesView : public IProperties {
 public:
  explicit EntriesView(const JavaEntries& entries) : entries(entries) {}
  ~EntriesView() = default;

  TextHandle GetProperty(const std::wstring& name) const override;
  void SetProperty(const std::wstring& name, const std::wstring& value) override;
  boost::posix_time::ptime GetDateProperty(const std::wstring& name) const override;
  void SetDateProperty(const std::wstring& name, const boost::posix_time::ptime& value) override;
  void RemoveProperty(const std::wstring& name) override;
  bool HasProperty(const std::wstring& name) const override;
  NameList GetPropertyNames() const override;

 private:
  const JavaEntries& entries;
};

// Whether bytes (up to their NUL) are modified UTF-8 that NewStringUTF
// accepts: one- to three-byte forms only, no overlong forms but C0 80.
bool IsModifiedUtf8(const char* bytes);

// A Java string of ANSI bytes that the code-page conversion refused: the
// bytes as modified UTF-8 when they are that, otherwise one character per
// byte (ISO 8859-1), so the VM never receives malformed UTF-8.
jstring NewStringFromUnconvertedBytes(JNIEnv* env, const char* bytes);

}  // namespace jni
}  // namespace quorvane
