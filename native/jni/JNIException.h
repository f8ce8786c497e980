// The native exception family that reaches the boundary of a Java-facing
// method. Plain classes: no virtual functions, no std::exception base, so a
// handler for std::exception never catches them. Building one of the named
// kinds makes its Java exception pending; the caller then throws the object.
#pragma once

#include <jni.h>

#include "Win32Api.h"

namespace quorvane {
namespace jni {

// Finds the class at `exception` and raises it with `message`; false when the
// class is missing or ThrowNew fails.
bool throwNew(JNIEnv* env, const char* exception, const char* message);

class JNIException {
 public:
  // A JNI call failed and the virtual machine already has an exception pending.
  JNIException() {}
  // The Win32 form: raises `exception` through its (String, int) constructor,
  // or with "<message>: 0x<CODE>" when the class has no such constructor.
  JNIException(JNIEnv* env, const char* exception, const char* message, DWORD code);
};

// The virtual machine handed out no characters or elements (its own
// OutOfMemoryError is pending).
class OutOfMemoryException : public JNIException {};

class IllegalArgumentException : public JNIException {
 public:
  IllegalArgumentException(JNIEnv* env, const char* message);
};

class RuntimeException : public JNIException {
 public:
  RuntimeException(JNIEnv* env, const char* message);
};

class ClassNotFoundException : public JNIException {
 public:
  ClassNotFoundException(JNIEnv* env, const char* message);
};

class IOException : public JNIException {
 public:
  IOException(JNIEnv* env, const char* message);
};

// A platform call of the document path failed; no Java exception.
class HResultException : public JNIException {
 public:
  explicit HResultException(HRESULT hr) : hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// Throws HResultException when hr is a failure.
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw HResultException(hr);
}

constexpr const char* kWin32ExceptionClass = "com/quorvane/infrastructure/os/windows/Win32Exception";

}  // namespace jni
}  // namespace quorvane
