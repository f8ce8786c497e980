// Handles, keys and other pointer-sized values crossing the boundary as Java
// ints, converted here and nowhere else. Windows keeps kernel handles, window
// handles and the predefined registry keys within 32 bits in a 64-bit process
// and widens them by sign extension, so -1 stays the current-process
// pseudo-handle and HKEY_CURRENT_USER (0x80000001) arrives as Windows casts it
// from an int; a value going back is its low 32 bits.
#pragma once

#include <jni.h>

#include <cstdint>

#include "Win32Api.h"

namespace quorvane {
namespace jni {

template <typename Pointer>
Pointer PointerFromJava(jint value) {
  return reinterpret_cast<Pointer>(static_cast<intptr_t>(value));
}
template <typename Pointer>
jint PointerToJava(Pointer value) {
  return static_cast<jint>(reinterpret_cast<intptr_t>(value));
}

inline HANDLE HandleFromJava(jint value) { return PointerFromJava<HANDLE>(value); }
inline HWND WindowFromJava(jint value) { return PointerFromJava<HWND>(value); }
inline HKEY KeyFromJava(jint value) { return PointerFromJava<HKEY>(value); }
inline jint HandleToJava(HANDLE handle) { return PointerToJava(handle); }
inline jint KeyToJava(HKEY key) { return PointerToJava(key); }
inline BOOL BoolFromJava(jboolean value) { return value ? TRUE : FALSE; }
// Byte counts given as Java int: -1 is (SIZE_T)-1, as on 32-bit Windows.
inline SIZE_T SizeFromJava(jint value) { return static_cast<SIZE_T>(static_cast<intptr_t>(value)); }

}  // namespace jni
}  // namespace quorvane
