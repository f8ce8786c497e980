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

// A security-attributes record named by a Java int, 0 for none; false for a
// value that is no readable record (with a readable descriptor, if it names
// one). Windows reads the record unguarded and would fault on such a value:
// the caller answers the platform's failure instead, with ERROR_NOACCESS as
// the last error. On 64-bit Windows an int holds no usable address (it
// would lose its upper half and name other memory): only 0 is taken, and
// anything else fails with ERROR_INVALID_PARAMETER. Linux's platform layer
// ignores the record.
inline bool SecurityAttributesFromJava(jint value, LPSECURITY_ATTRIBUTES* attributes) {
  *attributes = PointerFromJava<LPSECURITY_ATTRIBUTES>(value);
#ifdef _WIN64
  if (value != 0) {
    *attributes = nullptr;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
#endif
#ifdef _WIN32
  const auto readable = [](const void* at, SIZE_T size) {
    for (auto p = static_cast<const char*>(at); size > 0;) {
      MEMORY_BASIC_INFORMATION region;
      constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                  PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
      if (VirtualQuery(p, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
          (region.Protect & kReadable) == 0 || (region.Protect & PAGE_GUARD) != 0)
        return false;
      const SIZE_T left = static_cast<SIZE_T>(static_cast<const char*>(region.BaseAddress) + region.RegionSize - p);
      if (left >= size) return true;
      p += left, size -= left;
    }
    return true;
  };
  if (*attributes != nullptr && (!readable(*attributes, sizeof **attributes) ||
                                 ((*attributes)->lpSecurityDescriptor != nullptr &&
                                  !readable((*attributes)->lpSecurityDescriptor, SECURITY_DESCRIPTOR_MIN_LENGTH)))) {
    ::SetLastError(ERROR_NOACCESS);
    return false;
  }
#endif
  return true;
}

}  // namespace jni
}  // namespace quorvane
