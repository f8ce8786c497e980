// Handles and booleans crossing the boundary as Java ints: a handle value is
// sign-extended to pointer size, so -1 stays the current-process
// pseudo-handle, and comes back truncated to its 32 bits.
#pragma once

#include <jni.h>

#include <cstdint>

#include "Win32Api.h"

namespace quorvane {
namespace jni {

inline HANDLE HandleFromJava(jint value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
inline HWND WindowFromJava(jint value) { return reinterpret_cast<HWND>(static_cast<intptr_t>(value)); }
inline jint HandleToJava(HANDLE handle) { return static_cast<jint>(reinterpret_cast<intptr_t>(handle)); }
inline BOOL BoolFromJava(jboolean value) { return value ? TRUE : FALSE; }
// Byte counts given as Java int: -1 is (SIZE_T)-1, as on 32-bit Windows.
inline SIZE_T SizeFromJava(jint value) { return static_cast<SIZE_T>(static_cast<intptr_t>(value)); }

}  // namespace jni
}  // namespace quorvane
