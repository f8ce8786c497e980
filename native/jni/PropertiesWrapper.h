// A java.util.Properties object (or any object with its five methods) seen
// as a quorvane::IProperties of text values, and its companion over a
// java.util.Enumeration. Every call goes straight to the Java object.
#pragma once

#include <jni.h>

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

// Text-only view of the caller's Java properties object: the date-time
// operations always throw std::runtime_error "Not supported". Method ids
// come from the object's own class. Lives on the stack of one native call
// and its thread; the object reference stays the caller's. A Java method
// that throws ends the operation with JNIException, its exception pending.
// A Java object's keys and their text values, read once, in enumeration
// order; a value that is not a String (put() of another object) is null.
struct JavaEntries {
  NameList keys;
  std::vector<TextHandle> values;
};

class PropertiesWrapper : public IProperties {
 public:
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
  jmethodID propertyNames = nullptr;
  jmethodID getProperty = nullptr;
  jmethodID setProperty = nullptr;
  jmethodID size = nullptr;
  jmethodID remove = nullptr;
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
