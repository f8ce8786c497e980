// The two guards every native method ends in: no exception crosses into the
// virtual machine.
#pragma once

#include <jni.h>

#include <exception>
#include <new>
#include <utility>

#include "JNIException.h"

namespace quorvane {
namespace jni {

// Raises a RuntimeException (OutOfMemoryError for bad_alloc) for an escaped
// exception outside the JNI family, unless one is already pending.
void RaiseForForeignException(JNIEnv* env, const std::exception* error, bool outOfMemory);

// Java-exception guard: a JNIException leaves its Java exception pending and
// the method answers `neutral`. Anything else must not reach the VM either: it
// becomes a pending RuntimeException (or OutOfMemoryError) and `neutral`.
template <typename R, typename Body>
R JavaExceptionGuard(JNIEnv* env, R neutral, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (JNIException&) {
  } catch (std::bad_alloc& e) {
    RaiseForForeignException(env, &e, true);
  } catch (std::exception& e) {
    RaiseForForeignException(env, &e, false);
  } catch (...) {
    RaiseForForeignException(env, nullptr, false);
  }
  return neutral;
}

template <typename Body>
void JavaExceptionGuardVoid(JNIEnv* env, Body&& body) noexcept {
  JavaExceptionGuard(env, 0, [&] {
    std::forward<Body>(body)();
    return 0;
  });
}

// HRESULT guard (compound-document methods): the body answers 0 or 1; an
// HResultException answers its HRESULT; anything else answers E_FAIL. A Java
// exception raised before the throw stays pending.
template <typename Body>
jint HResultGuard(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (HResultException e) {
    return e.hr();
  } catch (...) {
    return static_cast<jint>(E_FAIL);
  }
}

}  // namespace jni
}  // namespace quorvane
